"""Small data structures shared by the oskra packages."""

from typing import Any


class AttrDict(dict[Any, Any]):
    """A dict whose keys can also be read as attributes.

    Only reading falls back to the keys: attribute assignment stays ordinary,
    so subclasses keep their own instance attributes out of the mapping.
    A missing key reads as ``AttributeError`` (protocol lookups such as
    ``getattr(obj, "__tclobj__", None)`` depend on it).
    """

    __slots__ = ()

    def __getattr__(self, name: str) -> Any:
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None
        except TypeError:
            raise AttributeError(name) from None

    def __repr__(self) -> str:
        return "%s(%s)" % (type(self).__name__, dict.__repr__(self))
