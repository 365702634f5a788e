import logging as logging
import re as re
from collections import deque as deque
from collections.abc import Hashable, Iterable, Iterator
from datetime import datetime
from typing import ClassVar

from typing_extensions import disjoint_base

from oskra.utils.utils import get_time as get_time

log: logging.Logger

@disjoint_base
class Entry:
    api: str
    error: str | None
    @property
    def timestamp(self) -> datetime: ...
    def __init__(self, api: str | Iterable[str]) -> None: ...

@disjoint_base
class History:
    __MAX_HISTORY__: ClassVar[int]
    __history__: deque[Entry]
    __markers__: dict[Hashable, deque[Entry]]
    __activeMarkers__: list[Hashable]
    enabled: bool
    def __init__(self, max_history: int | None = 9999) -> None: ...
    def enable(self) -> None: ...
    def disable(self) -> None: ...
    def append(self, item: str | Iterable[str]) -> None: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Entry]: ...
    def clear(self, marker: Hashable | None = None, clear_all: bool = False) -> None: ...
    def start_marker(self, marker: Hashable) -> None: ...
    def end_marker(self, marker: Hashable) -> None: ...
    def filter(
        self, marker: Hashable | None = None, count: int = 20, regex: str | None = None
    ) -> list[Entry]: ...
