"""How deep JSON values nest, told without recursion: a configuration read from a file or kept in a
result file is refused beyond a depth no configuration needs, before anything recurses into it."""

from __future__ import annotations

from typing import Any

__all__ = ["CONFIG_DEPTH_LIMIT", "nested_deeper_than"]

# A configuration is a JSON object at most this deep (a run's is four deep).
CONFIG_DEPTH_LIMIT = 32


def nested_deeper_than(value: Any, limit: int) -> bool:
    """Whether lists and dicts in `value` nest more than `limit` deep (found without recursion)."""
    level = [value]
    for _ in range(limit + 1):
        level = [
            inner
            for outer in level
            if isinstance(outer, (list, dict))
            for inner in (outer.values() if isinstance(outer, dict) else outer)
        ]
        if not level:
            return False
    return True
