"""The errors the tool reports: a message for the release engineer and an exit code."""


class PublishError(Exception):
    """Raised for any input or state the tool refuses; str() is the whole message. Exit 1."""

    exit_code = 1


class BusyError(PublishError):
    """Another command holds the server tree: nothing was done; try again later. Exit 3."""

    exit_code = 3
