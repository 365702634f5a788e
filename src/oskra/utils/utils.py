"""Miscellaneous helpers."""

from datetime import datetime


def get_time():
    """The current local time, with microseconds."""
    return datetime.now()
