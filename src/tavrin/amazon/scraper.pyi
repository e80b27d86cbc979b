"""amazon scraper 兼容导出。"""

from tavrin.amazon.scraping.scraper import AmazonScraper as AmazonScraper

__all__ = ["AmazonScraper"]
