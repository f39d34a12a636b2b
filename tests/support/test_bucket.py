#!/usr/bin/python3
"""The download bucket of the tests: an S3-like server on 127.0.0.1 that serves the files of a folder
and checks every request's presigned signature by recomputing it with botocore, the reference
implementation of AWS Signature Version 4 for S3. A bad, foreign or expired signature gets 403, as S3
answers; a missing object 404.

    test_bucket.py serve --root DIR --bucket NAME --access-key-id ID --secret-access-key KEY
                         [--region us-east-1] [--port 0] [--behaviour OBJECT=MODE]...
        prints "port N pid P" once it listens. MODE: forbidden (403), missing (404), slow (half the body at once, then a
        trickle), truncated (half the body, then the connection closes), empty (200 with no body),
        garbage (200 with a body that is not audio).

    test_bucket.py presign --endpoint URL --style virtual|path --bucket NAME --key KEY
                           --access-key-id ID --secret-access-key KEY --region R --time UNIX
                           [--expires 86400]
        prints botocore's own presigned GET URL for that object at that time.
"""

import argparse
import datetime
import hmac
import http.server
import os
import socketserver
import sys
import time
import unittest.mock
import urllib.parse

import botocore.auth
import botocore.awsrequest
import botocore.config
import botocore.credentials
import botocore.session

SIGV4_TIMESTAMP = '%Y%m%dT%H%M%SZ'
AUTH_PREFIX = 'x-amz-'


def fixed_utcnow(moment):
    """Patches botocore's clock so that it signs at `moment` (a naive UTC datetime)."""
    class FixedDateTime(datetime.datetime):
        @classmethod
        def utcnow(cls):
            return moment
    return unittest.mock.patch.object(botocore.auth.datetime, 'datetime', FixedDateTime)


def presign(args):
    moment = datetime.datetime.utcfromtimestamp(args.time)
    client = botocore.session.get_session().create_client(
        's3', region_name=args.region, endpoint_url=args.endpoint,
        aws_access_key_id=args.access_key_id, aws_secret_access_key=args.secret_access_key,
        config=botocore.config.Config(signature_version='s3v4', s3={'addressing_style': args.style}))
    with fixed_utcnow(moment):
        print(client.generate_presigned_url('get_object', Params={'Bucket': args.bucket, 'Key': args.key},
                                            ExpiresIn=args.expires))


class Bucket(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    options = None

    def log_message(self, *_):
        pass

    def refuse(self, status, code, message):
        body = (f'<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>{code}</Code>'
                f'<Message>{message}</Message></Error>').encode()
        self.send_response(status)
        self.send_header('Content-Type', 'application/xml')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def signature_problem(self, raw_path, query):
        """Why the request's signature does not hold, or None when botocore computes the same one."""
        options = self.options
        auth = {key.lower(): value for key, value in query if key.lower().startswith(AUTH_PREFIX)}
        needed = ['x-amz-algorithm', 'x-amz-credential', 'x-amz-date', 'x-amz-expires',
                  'x-amz-signedheaders', 'x-amz-signature']
        if any(key not in auth for key in needed):
            return 'AccessDenied', 'Query-string authentication requires the X-Amz parameters'
        if auth['x-amz-algorithm'] != 'AWS4-HMAC-SHA256':
            return 'AuthorizationQueryParametersError', 'unsupported algorithm'
        access_key_id = auth['x-amz-credential'].split('/')[0]
        if access_key_id != options.access_key_id:
            return 'InvalidAccessKeyId', 'The AWS Access Key Id you provided does not exist in our records.'
        try:
            signed_at = datetime.datetime.strptime(auth['x-amz-date'], SIGV4_TIMESTAMP)
            expires = int(auth['x-amz-expires'])
        except ValueError:
            return 'AuthorizationQueryParametersError', 'malformed X-Amz-Date or X-Amz-Expires'
        now = datetime.datetime.utcnow()
        if now > signed_at + datetime.timedelta(seconds=expires):
            return 'AccessDenied', 'Request has expired'
        if signed_at > now + datetime.timedelta(minutes=15):
            return 'AccessDenied', 'Request is not valid yet'
        # The request as it would be before signing: S3's canonical path (RFC 3986 encoding of the
        # decoded path) and the parameters that are not the signature's.
        path = urllib.parse.quote(urllib.parse.unquote(raw_path), safe='/~')
        rest = [(key, value) for key, value in query if not key.lower().startswith(AUTH_PREFIX)]
        url = f'http://{self.headers["Host"]}{path}'
        if rest:
            url += '?' + urllib.parse.urlencode(rest, quote_via=urllib.parse.quote, safe='-_.~')
        request = botocore.awsrequest.AWSRequest(method=self.command, url=url)
        signer = botocore.auth.S3SigV4QueryAuth(
            botocore.credentials.Credentials(options.access_key_id, options.secret_access_key), 's3',
            options.region, expires=expires)
        with fixed_utcnow(signed_at):
            signer.add_auth(request)
        expected = urllib.parse.parse_qs(urllib.parse.urlsplit(request.url).query)['X-Amz-Signature'][0]
        if not hmac.compare_digest(expected, auth['x-amz-signature']):
            return 'SignatureDoesNotMatch', ('The request signature we calculated does not match the '
                                             'signature you provided.')
        return None

    def object_key(self, raw_path):
        options = self.options
        key = urllib.parse.unquote(raw_path).lstrip('/')
        if not self.headers.get('Host', '').startswith(options.bucket + '.'):
            bucket, _, key = key.partition('/')
            if bucket != options.bucket:
                return None
        return key

    def do_GET(self):
        options = self.options
        raw_path, _, raw_query = self.path.partition('?')
        query = urllib.parse.parse_qsl(raw_query, keep_blank_values=True)
        problem = self.signature_problem(raw_path, query)
        if problem:
            self.refuse(403, *problem)
            return
        key = self.object_key(raw_path)
        behaviour = options.behaviours.get(key, 'normal')
        file = os.path.join(options.root, key) if key else None
        if behaviour == 'forbidden':
            self.refuse(403, 'AccessDenied', 'Access Denied')
            return
        if (behaviour == 'missing' or not file or '..' in key.split('/') or not os.path.isfile(file)):
            self.refuse(404, 'NoSuchKey', 'The specified key does not exist.')
            return
        if behaviour == 'garbage':
            body = b'<html><body>This is not audio.</body></html>\n' * 64
        elif behaviour == 'empty':
            body = b''
        else:
            with open(file, 'rb') as handle:
                body = handle.read()
        self.send_response(200)
        self.send_header('Content-Type', 'audio/mp4')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        half = len(body) // 2
        if behaviour == 'truncated':
            self.wfile.write(body[:half])
            self.close_connection = True
            return
        if behaviour == 'slow':
            self.wfile.write(body[:half])
            for start in range(half, len(body), 16384):
                self.wfile.flush()
                time.sleep(0.1)
                self.wfile.write(body[start:start + 16384])
            return
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(args):
    args.behaviours = dict(item.split('=', 1) for item in args.behaviour)
    Bucket.options = args
    server = Server(('127.0.0.1', args.port), Bucket)
    print(f'port {server.server_address[1]} pid {os.getpid()}', flush=True)
    server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument('--bucket', required=True)
    common.add_argument('--access-key-id', required=True)
    common.add_argument('--secret-access-key', required=True)
    common.add_argument('--region', default='us-east-1')
    serving = commands.add_parser('serve', parents=[common])
    serving.add_argument('--root', required=True)
    serving.add_argument('--port', type=int, default=0)
    serving.add_argument('--behaviour', action='append', default=[])
    signing = commands.add_parser('presign', parents=[common])
    signing.add_argument('--endpoint', required=True)
    signing.add_argument('--style', choices=['virtual', 'path'], required=True)
    signing.add_argument('--key', required=True)
    signing.add_argument('--time', type=float, required=True)
    signing.add_argument('--expires', type=int, default=86400)
    args = parser.parse_args()
    if args.command == 'serve':
        serve(args)
    else:
        presign(args)


if __name__ == '__main__':
    sys.exit(main())
