"""Print the report of a saved result payload (a JSON file)."""

import json
import sys

from tavrin.amazon_rufus.services.velmora import Velmora


def main(path: str) -> None:
    with open(path, encoding="utf-8") as file:
        payload = json.load(file)
    print(Velmora().format_data(payload))


if __name__ == "__main__":
    main(sys.argv[1])
