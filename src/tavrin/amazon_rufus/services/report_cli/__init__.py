"""rufus-report: render saved Rufus result payloads as reports, from the command line.

planning decides every task and refusal before anything is rendered; rendering runs one task
(read, parse, format, encode); runners run the tasks here or in worker processes; main stages the
reports, makes them durable a batch at a time and delivers the outcomes in input order;
destination is the output folder; payloads reads the saved runs and encodes the reports.
"""

from .main import main

__all__ = ["main"]
