#!/usr/bin/env python3
"""An HTTP server on loopback that asks for NTLM and has impacket check the answer.

The challenge is built and the answer checked the way impacket's own SMB server does it
(impacket.smbserver.computeNTLMv2), so nothing here computes a response of its own: that
verifier knows only version 2, and a version 1 answer fails its proof like a wrong password.

Usage: ntlm_v2_server.py PORT USER PASSWORD
Each decision is printed as "accepted DOMAIN\\USER ntlen=N" or "refused ... ntlen=N".
"""
import base64
import calendar
import http.server
import os
import struct
import sys
import time

from impacket import ntlm
from impacket.smbserver import computeNTLMv2

STATUS_SUCCESS = 0
# A bound on what a client may send: the three NTLM messages are far smaller.
MAX_HEADER_BYTES = 8192

PORT, USER, PASSWORD = int(sys.argv[1]), sys.argv[2], sys.argv[3]
SERVER, DOMAIN = "PEER", "CORP"


def challenge_for(negotiate, server_challenge):
    flags = (ntlm.NTLMSSP_NEGOTIATE_VERSION | ntlm.NTLMSSP_NEGOTIATE_TARGET_INFO
             | ntlm.NTLMSSP_TARGET_TYPE_SERVER | ntlm.NTLMSSP_NEGOTIATE_NTLM
             | ntlm.NTLMSSP_REQUEST_TARGET)
    for wanted in (ntlm.NTLMSSP_NEGOTIATE_56, ntlm.NTLMSSP_NEGOTIATE_128,
                   ntlm.NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY, ntlm.NTLMSSP_NEGOTIATE_UNICODE,
                   ntlm.NTLM_NEGOTIATE_OEM):
        flags |= negotiate['flags'] & wanted
    pairs = ntlm.AV_PAIRS()
    pairs[ntlm.NTLMSSP_AV_HOSTNAME] = pairs[ntlm.NTLMSSP_AV_DNS_HOSTNAME] = \
        SERVER.encode('utf-16le')
    pairs[ntlm.NTLMSSP_AV_DOMAINNAME] = pairs[ntlm.NTLMSSP_AV_DNS_DOMAINNAME] = \
        DOMAIN.encode('utf-16le')
    pairs[ntlm.NTLMSSP_AV_TIME] = struct.pack(
        '<q', 116444736000000000 + calendar.timegm(time.gmtime()) * 10000000)
    message = ntlm.NTLMAuthChallenge()
    message['flags'] = flags
    message['domain_name'] = DOMAIN.encode('utf-16le')
    message['domain_len'] = message['domain_max_len'] = len(message['domain_name'])
    message['domain_offset'] = 40 + 16
    message['challenge'] = server_challenge
    message['TargetInfoFields'] = pairs
    message['TargetInfoFields_len'] = message['TargetInfoFields_max_len'] = len(pairs)
    message['TargetInfoFields_offset'] = 40 + 16 + len(message['domain_name'])
    message['Version'] = b'\xff' * 8
    message['VersionLen'] = 8
    return message


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def answer(self, code, header=None, body=b''):
        self.send_response(code)
        if header:
            self.send_header('WWW-Authenticate', header)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def do_GET(self):
        field = self.headers.get('Authorization', '')
        if len(field) > MAX_HEADER_BYTES or not field.startswith('NTLM '):
            self.answer(401, 'NTLM')
            return
        try:
            token = base64.b64decode(field[5:], validate=True)
            kind = struct.unpack('<L', token[8:12])[0]
        except Exception:
            self.answer(400)
            return
        if kind == 1:
            negotiate = ntlm.NTLMAuthNegotiate()
            negotiate.fromString(token)
            self.server_challenge = os.urandom(8)
            self.negotiate = negotiate
            self.challenge = challenge_for(negotiate, self.server_challenge)
            self.answer(401, 'NTLM ' + base64.b64encode(self.challenge.getData()).decode())
            return
        if kind != 3 or not hasattr(self, 'challenge'):
            self.answer(401, 'NTLM')
            return
        auth = ntlm.NTLMAuthChallengeResponse()
        auth.fromString(token)
        user = auth['user_name'].decode('utf-16le', 'replace')
        domain = auth['domain_name'].decode('utf-16le', 'replace')
        status = -1
        if user.lower() == USER.lower():
            status, _ = computeNTLMv2(user.lower(), ntlm.compute_lmhash(PASSWORD),
                                      ntlm.compute_nthash(PASSWORD), self.server_challenge,
                                      auth, self.challenge, self.negotiate)
        verdict = 'accepted' if status == STATUS_SUCCESS else 'refused'
        print('%s %s\\%s ntlen=%d' % (verdict, domain, user, len(auth['ntlm'])), flush=True)
        del self.challenge
        if status == STATUS_SUCCESS:
            self.answer(200, None, b'welcome ' + user.encode() + b'\n')
        else:
            self.answer(401, 'NTLM')


http.server.ThreadingHTTPServer(('127.0.0.1', PORT), Handler).serve_forever()
