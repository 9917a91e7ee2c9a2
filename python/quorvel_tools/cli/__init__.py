"""The `quorvel` command: the analysis layer from a terminal."""
