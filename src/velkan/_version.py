"""velkan's version, in one place (the build reads it from here)."""

__version__ = "0.1.0"
