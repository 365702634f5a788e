"""The Python form of a Tcl array."""

from collections.abc import MutableMapping


class Array(MutableMapping):
    """A mutable mapping from Tcl array element names to values."""

    __slots__ = ("_data",)

    def __init__(self, *args, **kwargs):
        self._data = dict(*args, **kwargs)

    @staticmethod
    def from_tcl(value):
        """Build an Array from an "array get" list of names and values."""
        from tkinter import TclError

        from oskra.tcl.internal import GetListFromAny

        try:
            items = GetListFromAny(value)
        except TclError as exc:
            raise ValueError(exc) from exc
        if len(items) % 2:
            raise ValueError("list must have an even number of elements")
        result = Array()
        result._data = dict(zip(items[::2], items[1::2]))
        return result

    def __getitem__(self, key):
        return self._data[key]

    def __setitem__(self, key, value):
        self._data[key] = value

    def __delitem__(self, key):
        del self._data[key]

    def __iter__(self):
        return iter(self._data)

    def __len__(self):
        return len(self._data)

    def __repr__(self):
        return "Array(%r)" % (self._data,)
