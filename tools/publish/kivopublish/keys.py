"""Release keys: ECDSA over P-256, signatures as the raw 64 bytes r||s with SHA-256.

Only the Python package `cryptography` (Debian: python3-cryptography) is used, through APIs
that its Debian 12 version (38) already has.
"""

import base64
import os

from .errors import PublishError

try:
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.hazmat.primitives.asymmetric.utils import (decode_dss_signature,
                                                                 encode_dss_signature)
except ImportError as missing:  # the tool says what to install instead of a trace back
    raise PublishError("kivo-publish needs the Python package 'cryptography' for this "
                       "interpreter (Debian: apt-get install python3-cryptography): %s"
                       % missing) from None

PRIVATE_NAME, PUBLIC_NAME = "release-key.pem", "release-key.pub.pem"
COORDINATE_BYTES = 32


def keygen(out_dir):
    """Writes a new key pair into out_dir (created if missing); refuses to overwrite either
    file. Returns the two paths. The private key file is created with mode 0600 from the
    start, so it is never readable by others, not even for a moment."""
    os.makedirs(out_dir, exist_ok=True)
    private_path = os.path.join(out_dir, PRIVATE_NAME)
    public_path = os.path.join(out_dir, PUBLIC_NAME)
    for path in (private_path, public_path):
        if os.path.lexists(path):
            raise PublishError("%s exists; keygen never overwrites a key" % path)
    key = ec.generate_private_key(ec.SECP256R1())
    private_pem = key.private_bytes(serialization.Encoding.PEM,
                                    serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption())
    public_pem = key.public_key().public_bytes(serialization.Encoding.PEM,
                                               serialization.PublicFormat.SubjectPublicKeyInfo)
    _write_new(private_path, private_pem, 0o600)
    _write_new(public_path, public_pem, 0o644)
    return private_path, public_path


def _write_new(path, data, mode):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)
    with os.fdopen(fd, "wb") as f:
        f.write(data)


def load_private(path):
    """The P-256 private key in the PEM file; PublishError when it is missing or not one,
    or when others than its owner may read or write the file."""
    try:
        mode = os.stat(path).st_mode
    except OSError as e:
        raise PublishError("cannot read key %s: %s" % (path, e.strerror)) from None
    data = _read_bounded(path)
    if b"-----BEGIN PUBLIC KEY-----" in data:
        raise PublishError("%s is a public key: --key takes the private release key (keygen "
                           "wrote it beside, without .pub), which stays where you publish"
                           % path)
    if mode & 0o077:
        raise PublishError("%s may be read or written by others (mode %03o): a release key "
                           "must be its owner's alone; chmod 600 %s" % (path, mode & 0o777, path))
    key = _parse(path, data, lambda data: serialization.load_pem_private_key(data, password=None))
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise PublishError("%s is not a P-256 private key" % path)
    return key


def load_public(path):
    """The P-256 public key in the PEM file; PublishError when it is missing or not one."""
    key = _load(path, serialization.load_pem_public_key)
    if not isinstance(key, ec.EllipticCurvePublicKey) or key.curve.name != "secp256r1":
        raise PublishError("%s is not a P-256 public key" % path)
    return key


MAX_KEY_BYTES = 64 * 1024  # a PEM key is a few hundred bytes


def _read_bounded(path):
    """The bytes of the key file at path; PublishError when it cannot be read or is larger
    than any key file."""
    try:
        with open(path, "rb") as f:
            data = f.read(MAX_KEY_BYTES + 1)
    except OSError as e:
        raise PublishError("cannot read key %s: %s" % (path, e.strerror)) from None
    if len(data) > MAX_KEY_BYTES:
        raise PublishError("%s is larger than a key file (over %d bytes)" % (path, MAX_KEY_BYTES))
    return data


def _load(path, parse):
    return _parse(path, _read_bounded(path), parse)


def _parse(path, data, parse):
    try:
        return parse(data)
    except (ValueError, TypeError) as e:
        raise PublishError("cannot load key %s: %s" % (path, e)) from None


def sign(private_key, data):
    """The base64 text of the raw r||s signature of data."""
    r, s = decode_dss_signature(private_key.sign(data, ec.ECDSA(hashes.SHA256())))
    raw = r.to_bytes(COORDINATE_BYTES, "big") + s.to_bytes(COORDINATE_BYTES, "big")
    return base64.b64encode(raw).decode("ascii")


def verify(public_key, data, signature_text):
    """True when signature_text (base64 of raw r||s) is a valid signature of data."""
    try:
        raw = base64.b64decode(signature_text, validate=True)
    except ValueError:
        return False
    # Only the one form that encodes these bytes, as the agents read it: padding bits zero.
    if base64.b64encode(raw).decode("ascii") != signature_text or len(raw) != 2 * COORDINATE_BYTES:
        return False
    r = int.from_bytes(raw[:COORDINATE_BYTES], "big")
    s = int.from_bytes(raw[COORDINATE_BYTES:], "big")
    try:
        public_key.verify(encode_dss_signature(r, s), data, ec.ECDSA(hashes.SHA256()))
        return True
    except InvalidSignature:
        return False
