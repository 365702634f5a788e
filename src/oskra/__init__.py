"""oskra: test-automation building blocks."""
