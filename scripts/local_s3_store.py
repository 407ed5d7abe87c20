"""moto's server, plus the checks of the real store that moto leaves out and the publish chain
relies on. Arguments are moto_server's. Used by Tests/Common/LocalS3Server.cpp and
scripts/localstore.sh.

- A PUT of an object or of a multipart upload's part whose body does not have the MD5 its
  "Content-MD5" header names is refused with BadDigest (a value that is no base64 MD5 with
  InvalidDigest), and nothing is stored.
- Policy conditions are evaluated against the request (moto takes every condition as met, so a
  conditional Deny refuses everything and a conditional Allow grants everything): Null, the String
  operators (Equals, NotEquals, EqualsIgnoreCase, NotEqualsIgnoreCase, Like, NotLike) and Bool,
  each also as ...IfExists. The keys known are the S3 request headers "s3:x-amz-..." (among them
  "s3:x-amz-copy-source"), "s3:prefix", "s3:delimiter", "s3:max-keys" and "aws:SecureTransport".
  A statement whose condition is not met does not apply (moto made it a Deny). Other operators
  keep moto's behaviour (taken as met).
- The session policy given to AssumeRole limits the session's credentials as on AWS: a request
  is allowed only when the role's policies and the session policy both allow it, and neither
  denies it (moto ignores session policies).
- Temporary credentials past their expiration are refused with ExpiredToken (400) on S3 requests,
  as AWS does (moto keeps accepting them), so short-lived credentials really run out. Tests move
  the clock of this check instead of waiting: the file named by ORVA_LOCAL_STORE_CLOCK_OFFSET_FILE
  holds whole seconds added to the time of each check.
- CopyObject and UploadPartCopy also need s3:GetObject (s3:GetObjectVersion with a versionId) on
  the source object, granted to the caller's credentials or by the source bucket's policy, as on
  AWS (moto checks only s3:PutObject on the target).
"""

import base64
import binascii
import contextvars
import datetime
import hashlib
import os
import re
import sys
from urllib.parse import parse_qs, unquote, urlparse

from moto import settings
from moto.core.authorization import ActionAuthenticatorMixin
from moto.core.responses import BaseResponse
from moto.core.utils import utcnow
from moto.iam.access_control import (
    AssumedRoleAccessKey,
    IAMPolicy,
    IAMPolicyStatement,
    IAMRequestBase,
    PermissionResult,
    S3IAMRequest,
)
from moto.s3.exceptions import MissingBucket, S3ClientError
from moto.s3.responses import S3Response
from moto.server import main
from moto.sts.models import sts_backends

class BadDigest(S3ClientError):
    code = "BadDigest"
    message = "The Content-MD5 you specified did not match what we received."

class InvalidDigest(S3ClientError):
    code = "InvalidDigest"
    message = "The Content-MD5 you specified was invalid."

_put_object = S3Response.put_object
_upload_part = S3Response.upload_part

def check_content_md5(self):
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

def put_object(self):
    check_content_md5(self)
    return _put_object(self)

def upload_part(self):
    check_content_md5(self)
    return _upload_part(self)

S3Response.put_object = put_object
S3Response.upload_part = upload_part

# --- Policy conditions -------------------------------------------------------------------------

# The request being answered (this thread's), read when a condition needs its keys.
_current_request = contextvars.ContextVar("orva_current_request", default=None)

_S3_HEADER_KEYS = (
    "x-amz-copy-source",
    "x-amz-acl",
    "x-amz-content-sha256",
    "x-amz-grant-full-control",
    "x-amz-grant-read",
    "x-amz-grant-read-acp",
    "x-amz-grant-write",
    "x-amz-grant-write-acp",
    "x-amz-metadata-directive",
    "x-amz-object-lock-legal-hold",
    "x-amz-object-lock-mode",
    "x-amz-object-lock-retain-until-date",
    "x-amz-server-side-encryption",
    "x-amz-server-side-encryption-aws-kms-key-id",
    "x-amz-storage-class",
)
_S3_QUERY_KEYS = ("prefix", "delimiter", "max-keys")

def _request_keys(response):
    """Condition keys of the request (lower-case names), each with its list of values."""
    keys = {}
    if response is None:
        return keys
    parsed = getattr(response, "parsed_url", None)
    if parsed is not None:
        keys["aws:securetransport"] = ["true" if parsed.scheme == "https" else "false"]
    if getattr(response, "service_name", "") == "s3":
        headers = getattr(response, "headers", None) or {}
        for name in _S3_HEADER_KEYS:
            value = headers.get(name)
            if value is not None:
                keys["s3:" + name] = [value.decode("utf-8") if isinstance(value, bytes) else value]
        query = parse_qs(parsed.query, keep_blank_values=True) if parsed is not None else {}
        for name in _S3_QUERY_KEYS:
            if name in query:
                keys["s3:" + name] = list(query[name])
    return keys

def _string_like(actual, pattern):
    # IAM's wildcards are * and ? only; everything else is literal.
    regex = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c) for c in pattern)
    return re.fullmatch(regex, actual, re.DOTALL) is not None

_POSITIVE = {
    "StringEquals": lambda a, e: a == e,
    "StringEqualsIgnoreCase": lambda a, e: a.lower() == e.lower(),
    "StringLike": _string_like,
    "Bool": lambda a, e: a.lower() == e.lower(),
}
_NEGATED = {
    "StringNotEquals": "StringEquals",
    "StringNotEqualsIgnoreCase": "StringEqualsIgnoreCase",
    "StringNotLike": "StringLike",
}

def _text(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)

def conditions_met(conditions, keys):
    """Whether a statement's Condition block holds for the request's keys (AWS's rules: operators
    and keys all hold, any listed value matches; a missing key fails a positive operator and
    passes a negated one or an ...IfExists)."""
    for operator, block in conditions.items():
        if_exists = operator.endswith("IfExists")
        base = operator[: -len("IfExists")] if if_exists else operator
        if base != "Null" and base not in _POSITIVE and base not in _NEGATED:
            continue  # not evaluated here: moto's behaviour
        if not isinstance(block, dict):
            return False
        for key, expected in block.items():
            wanted = [_text(v) for v in (expected if isinstance(expected, list) else [expected])]
            actual = keys.get(key.lower())
            if base == "Null":
                absent = actual is None
                if not any((w.lower() == "true") == absent for w in wanted):
                    return False
                continue
            if actual is None:
                if if_exists or base in _NEGATED:
                    continue
                return False
            match = _POSITIVE[_NEGATED.get(base, base)]
            found = any(match(a, w) for a in actual for w in wanted)
            if found == (base in _NEGATED):
                return False
    return True

def _check_conditions(self, incoming_condition_values):
    keys = _request_keys(_current_request.get())
    for name, value in (incoming_condition_values or {}).items():
        keys[name.lower()] = [value]
    return conditions_met(self._statement.get("Condition") or {}, keys)

_statement_permitted = IAMPolicyStatement.is_action_permitted

def statement_permitted(self, action, resource="*", principal=None, incoming_condition_values=None):
    # A statement whose condition does not hold does not apply; it is no Deny.
    if self._statement.get("Condition") and not self._check_conditions(incoming_condition_values):
        return PermissionResult.NEUTRAL
    return _statement_permitted(self, action, resource, principal, incoming_condition_values)

IAMPolicyStatement._check_conditions = _check_conditions
IAMPolicyStatement.is_action_permitted = statement_permitted

_setup_class = BaseResponse.setup_class

def setup_class(self, *args, **kwargs):
    _current_request.set(self)
    return _setup_class(self, *args, **kwargs)

BaseResponse.setup_class = setup_class

# --- Session policies --------------------------------------------------------------------------

class ExpiredToken(S3ClientError):
    code = "ExpiredToken"
    message = "The provided token has expired."

def assumed_role_of(access_key):
    if not isinstance(access_key, AssumedRoleAccessKey):
        return None
    for assumed in sts_backends[access_key.account_id][access_key.partition].assumed_roles:
        if assumed.access_key_id == access_key._access_key_id:
            return assumed
    return None

def session_policy(access_key):
    assumed = assumed_role_of(access_key)
    return (assumed.policy or None) if assumed is not None else None

def _session_verdict(request, resource):
    policy = session_policy(request._access_key)
    if policy is None:
        return PermissionResult.PERMITTED
    return IAMPolicy(policy).is_action_permitted(request._action, resource)

_check_action_permitted = IAMRequestBase.check_action_permitted

_clock_offset_file = os.environ.get("ORVA_LOCAL_STORE_CLOCK_OFFSET_FILE")

def expiry_now():
    offset = 0
    if _clock_offset_file:
        try:
            with open(_clock_offset_file, encoding="ascii") as file:
                offset = int(file.read().strip() or "0")
        except (OSError, ValueError):
            offset = 0
    return utcnow() + datetime.timedelta(seconds=offset)

def check_action_permitted(self, resource):
    assumed = assumed_role_of(self._access_key) if isinstance(self, S3IAMRequest) else None
    if assumed is not None and assumed.expiration <= expiry_now():
        raise ExpiredToken()
    _check_action_permitted(self, resource)
    if self._action == "sts:GetCallerIdentity":
        return
    if _session_verdict(self, resource) != PermissionResult.PERMITTED:
        self._raise_access_denied()

IAMRequestBase.check_action_permitted = check_action_permitted

# --- Reading the source of a copy --------------------------------------------------------------

def _identity_verdict(request, resource):
    permitted = False
    for policy in request._access_key.collect_policies():
        verdict = IAMPolicy(policy).is_action_permitted(request._action, resource)
        if verdict == PermissionResult.DENIED:
            return verdict
        permitted = permitted or verdict == PermissionResult.PERMITTED
    session = _session_verdict(request, resource)
    if session == PermissionResult.DENIED:
        return session
    return PermissionResult.PERMITTED if permitted and session == PermissionResult.PERMITTED else PermissionResult.NEUTRAL

def authorize_copy_source(self):
    if ActionAuthenticatorMixin.request_count < settings.INITIAL_NO_AUTH_ACTION_COUNT:
        return  # authentication is not enforced yet
    source = self.headers.get("x-amz-copy-source")
    if isinstance(source, bytes):
        source = source.decode("utf-8")
    parsed = urlparse(source or "")
    bucket_name, _, key_name = unquote(parsed.path).lstrip("/").partition("/")
    if not bucket_name or not key_name:
        return  # moto refuses the malformed source itself
    version = parse_qs(parsed.query).get("versionId", [None])[0]
    action = "GetObjectVersion" if version else "GetObject"
    path = self.parsed_url.path + ("?" + self.parsed_url.query if self.parsed_url.query else "")
    request = S3IAMRequest(
        account_id=self.current_account,
        method=self.method,
        path=path,
        data=self.data,
        body=self.raw_body,
        headers=self.headers,
        action=action,
    )
    resource = f"arn:{request._access_key.partition}:s3:::{bucket_name}/{key_name}"
    verdict = _identity_verdict(request, resource)
    try:
        bucket = self.backend.get_bucket(bucket_name)
    except MissingBucket:
        bucket = None  # moto answers NoSuchBucket for the copy itself
    by_bucket = bucket.get_permission(f"s3:{action}", resource) if bucket is not None else PermissionResult.NEUTRAL
    if PermissionResult.DENIED in (verdict, by_bucket) or PermissionResult.PERMITTED not in (verdict, by_bucket):
        request._raise_access_denied()

_copy_object = S3Response.copy_object
_upload_part_copy = S3Response.upload_part_copy

def copy_object(self):
    authorize_copy_source(self)
    return _copy_object(self)

def upload_part_copy(self):
    authorize_copy_source(self)
    return _upload_part_copy(self)

S3Response.copy_object = copy_object
S3Response.upload_part_copy = upload_part_copy

if __name__ == "__main__":
    sys.exit(main())
