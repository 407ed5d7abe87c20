"""moto's server, plus the one check of the real store that moto leaves out and the plugin relies
on: a PUT of an object whose body does not have the MD5 its "Content-MD5" header names is refused
with BadDigest (a value that is no base64 MD5 with InvalidDigest), and nothing is stored.
Arguments are moto_server's."""

import base64
import binascii
import hashlib
import sys

from moto.s3.exceptions import S3ClientError
from moto.s3.responses import S3Response
from moto.server import main


class BadDigest(S3ClientError):
    code = "BadDigest"
    message = "The Content-MD5 you specified did not match what we received."


class InvalidDigest(S3ClientError):
    code = "InvalidDigest"
    message = "The Content-MD5 you specified was invalid."


_put_object = S3Response.put_object


def put_object(self):
    given = self.headers.get("Content-MD5")
    if given is not None:
        try:
            expected = base64.b64decode(given, validate=True)
        except (binascii.Error, ValueError):
            raise InvalidDigest()
        if len(expected) != 16:
            raise InvalidDigest()
        if hashlib.md5(self.body or b"").digest() != expected:
            raise BadDigest()
    return _put_object(self)


S3Response.put_object = put_object

if __name__ == "__main__":
    sys.exit(main())
