"""Entry-point discovery."""

from importlib.metadata import EntryPoint, entry_points


def get_entry_points(group: str) -> list[EntryPoint]:
    """Entry points registered under ``group``, in discovery order.

    Each has ``name``, ``module`` and ``load()``.
    """
    return list(entry_points(group=group))
