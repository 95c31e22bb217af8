"""The public key of each signing slot, recorded in the server tree when the slot first
signs (keys/slot1.pub.pem, keys/slot2.pub.pem; nginx serves neither). A private key whose
public half is not its slot's recorded key signs nothing, so a wrong key file, or a key
meant for the other slot, cannot publish pages that every agent would refuse. A slot gets
a new key only by an explicit `rotate`."""

import os

from . import keys, server_tree
from .errors import PublishError

from cryptography.hazmat.primitives import serialization  # noqa: E402 (keys.py checks it)

SLOTS = (1, 2)


def record_path(root, slot):
    return os.path.join(root, "keys", "slot%d.pub.pem" % slot)


def public_pem(public_key):
    return public_key.public_bytes(serialization.Encoding.PEM,
                                   serialization.PublicFormat.SubjectPublicKeyInfo)


def recorded(root):
    """{slot: public key} of the slots with a record; PublishError for a damaged record."""
    found = {}
    for slot in SLOTS:
        if os.path.lexists(record_path(root, slot)):
            found[slot] = keys.load_public(record_path(root, slot))
    return found


def check_signer(root, private_key, slot):
    """Refuses a private key that is not slot's recorded key. Returns the record to write
    with the command's other files (path, PEM bytes) when the tree has no record yet (its
    first signing, or a tree published before keys were recorded), else None."""
    mine = public_pem(private_key.public_key())
    records = {s: public_pem(k) for s, k in recorded(root).items()}
    other = 3 - slot
    if records.get(other) == mine:
        raise PublishError("this key is the recorded slot-%d key; sign with --key-slot %d"
                           % (other, other))
    if slot in records:
        if records[slot] != mine:
            raise PublishError("this key is not the recorded slot-%d key (%s): use the key "
                               "the agents are built with for slot %d, or record a new one "
                               "with rotate" % (slot, record_path(root, slot), slot))
        return None
    if records:
        raise PublishError("slot %d has no recorded key: record the key the agents are built "
                           "with for slot %d first (kivo-publish rotate --out %s --key-slot "
                           "%d --pubkey PEM)" % (slot, slot, root, slot))
    return record_path(root, slot), mine


def stage_record(staged, record):
    if record is not None:
        path, pem = record
        staged.add(server_tree.write_temp(path, pem), path)


def _pages_signed_with(root, slot):
    """The served page copies (relative paths) whose signature names slot."""
    from . import signed_page
    found = []
    for chan in signed_page.CHANNELS:
        paths = server_tree.served_page_paths(root, chan)
        for path, page in zip(paths, server_tree.read_copies(paths)):
            try:
                if page is not None and signed_page.split_page(page)[1] == slot:
                    found.append(os.path.relpath(path, root))
            except PublishError:
                pass  # a damaged copy signs nothing
    return found


def rotate(root, slot, pubkey_path):
    """Records the public key in pubkey_path for slot; refuses the other slot's key."""
    pem = public_pem(keys.load_public(pubkey_path))
    records = {s: public_pem(k) for s, k in recorded(root).items()}
    if records.get(3 - slot) == pem:
        raise PublishError("%s is the recorded slot-%d key; a slot-%d key must be another key"
                           % (pubkey_path, 3 - slot, slot))
    signing = _pages_signed_with(root, slot)
    if records.get(slot) not in (None, pem) and signing:
        # The agents would refuse every page it signs the moment its record changed.
        raise PublishError(
            "the recorded slot-%d key signs %s; re-sign them with the other slot first "
            "(resign --key-slot %d --key ...), then rotate slot %d"
            % (slot, ", ".join(signing), 3 - slot, slot))
    with server_tree.Staged() as staged:
        staged.add(server_tree.write_temp(record_path(root, slot), pem), record_path(root, slot))
        staged.commit()
    return record_path(root, slot)
