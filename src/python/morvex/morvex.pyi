"""Python module definition for the `morvex` extension."""

from typing import final

__all__ = ["Pattern", "read", "read_bytes"]

@final
class Pattern:
    """Represents a diffraction pattern with position, intensity, and optional error."""

    @property
    def x(self) -> list[float]:
        """The x-axis values (e.g., 2-theta or Q)."""
    @property
    def y(self) -> list[float]:
        """The y-axis values (intensity)."""
    @property
    def e(self) -> list[float] | None:
        """The uncertainty/error values, if available."""

def read(path: str) -> Pattern:
    """Load a pattern from a file path."""

def read_bytes(data: bytes, filename: str) -> Pattern:
    """Load a pattern from raw bytes with a filename hint."""
