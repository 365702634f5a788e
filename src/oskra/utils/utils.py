"""Miscellaneous helpers."""

from datetime import datetime


def get_time() -> datetime:
    """The current local time, with microseconds."""
    return datetime.now()
