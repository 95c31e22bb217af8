"""The one error the tool reports: a message for the release engineer, exit code 1."""


class PublishError(Exception):
    """Raised for any input or state the tool refuses; str() is the whole message."""
