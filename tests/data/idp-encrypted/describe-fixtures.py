#!/usr/bin/env python3
"""Prints a Markdown description of each fixture: algorithms, signatures, NameID,
attributes, time window. Reads the fixture and its decrypted copy made by
verify-with-xmlsec1.sh (OUT=folder). Usage: python3 describe-fixtures.py DECRYPTED_DIR"""
import glob, os, sys
import xml.etree.ElementTree as ET

NS = {'samlp': 'urn:oasis:names:tc:SAML:2.0:protocol', 'saml': 'urn:oasis:names:tc:SAML:2.0:assertion',
      'ds': 'http://www.w3.org/2000/09/xmldsig#', 'xenc': 'http://www.w3.org/2001/04/xmlenc#'}
NEWLINE = b'\n'
here = os.path.dirname(os.path.abspath(__file__))
dec_dir = sys.argv[1]

def sig_desc(sig):
    if sig is None:
        return 'not signed'
    sm = sig.find('ds:SignedInfo/ds:SignatureMethod', NS).get('Algorithm')
    c14n = sig.find('ds:SignedInfo/ds:CanonicalizationMethod', NS).get('Algorithm')
    ref = sig.find('ds:SignedInfo/ds:Reference', NS)
    dm = ref.find('ds:DigestMethod', NS).get('Algorithm')
    tr = [t.get('Algorithm') for t in ref.findall('ds:Transforms/ds:Transform', NS)]
    cert = 'X509Certificate in KeyInfo' if sig.find('.//ds:X509Certificate', NS) is not None else 'no certificate'
    return f'SignatureMethod `{sm}`, DigestMethod `{dm}`, c14n `{c14n}`, transforms {", ".join("`"+t+"`" for t in tr)}, Reference URI `{ref.get("URI")}`, {cert}'

for path in sorted(glob.glob(os.path.join(here, '*.xml'))):
    name = os.path.basename(path)
    raw = open(path, 'rb').read()
    resp = ET.fromstring(raw)
    ed = resp.find('saml:EncryptedAssertion/xenc:EncryptedData', NS)
    data_alg = ed.find('xenc:EncryptionMethod', NS).get('Algorithm')
    ek = ed.find('.//xenc:EncryptedKey', NS)
    if ek is not None:
        em = ek.find('xenc:EncryptionMethod', NS)
        kt = f'`{em.get("Algorithm")}`'
        dmeth = em.find('ds:DigestMethod', NS)
        kt += f', DigestMethod `{dmeth.get("Algorithm")}`' if dmeth is not None else ', no DigestMethod element (SHA-1 implied)'
        mgf = em.find('{http://www.w3.org/2009/xmlenc11#}MGF', NS)
        kt += f', MGF `{mgf.get("Algorithm")}`' if mgf is not None else ', no MGF element (MGF1-SHA1 implied)'
        kt += '; EncryptedKey KeyInfo: ' + ('SP X509Certificate' if ek.find('ds:KeyInfo//ds:X509Certificate', NS) is not None else 'none')
        kt += '; EncryptedKey placed inside EncryptedData/ds:KeyInfo'
    else:
        kt = 'none: pre-shared AES key (no EncryptedKey, no KeyInfo)'
    dec = ET.parse(os.path.join(dec_dir, name)).getroot()
    a = dec.find('.//saml:Assertion', NS)
    nid = a.find('saml:Subject/saml:NameID', NS)
    scd = a.find('saml:Subject/saml:SubjectConfirmation/saml:SubjectConfirmationData', NS)
    cond = a.find('saml:Conditions', NS)
    authn = a.find('saml:AuthnStatement', NS)
    attrs = []
    for at in a.findall('saml:AttributeStatement/saml:Attribute', NS):
        vals = [v.text for v in at.findall('saml:AttributeValue', NS)]
        attrs.append(f'`{at.get("Name")}` = ' + ', '.join(f'"{v}"' for v in vals))
    print(f'### `{name}`\n')
    print('| item | value |\n| --- | --- |')
    rows = [
        ('size (bytes), SHA-256', f'{len(raw)}, `{__import__("hashlib").sha256(raw).hexdigest()}`'),
        ('XML declaration / trailing newline', f'{"yes" if raw.startswith(b"<?xml") else "no"} / {"yes" if raw.endswith(NEWLINE) else "no"}'),
        ('data encryption', f'`{data_alg}`'),
        ('key transport', kt),
        ('Response ID / IssueInstant', f'`{resp.get("ID")}` / `{resp.get("IssueInstant")}`'),
        ('Response Destination / InResponseTo', f'`{resp.get("Destination")}` / `{resp.get("InResponseTo")}`'),
        ('Response signature', sig_desc(resp.find('ds:Signature', NS))),
        ('Assertion ID / IssueInstant', f'`{a.get("ID")}` / `{a.get("IssueInstant")}`'),
        ('Assertion signature (inside the encryption)', sig_desc(a.find('ds:Signature', NS))),
        ('Issuer (Response / Assertion)', f'`{resp.find("saml:Issuer", NS).text}` (Format `{resp.find("saml:Issuer", NS).get("Format")}`) / `{a.find("saml:Issuer", NS).text}`'),
        ('NameID', f'"{nid.text}", Format `{nid.get("Format")}`, NameQualifier `{nid.get("NameQualifier")}`, SPNameQualifier `{nid.get("SPNameQualifier")}`'),
        ('SubjectConfirmation', f'Method `{a.find("saml:Subject/saml:SubjectConfirmation", NS).get("Method")}`, Recipient `{scd.get("Recipient")}`, InResponseTo `{scd.get("InResponseTo")}`, NotBefore `{scd.get("NotBefore")}`, NotOnOrAfter `{scd.get("NotOnOrAfter")}`'),
        ('Conditions', f'NotBefore `{cond.get("NotBefore")}`, NotOnOrAfter `{cond.get("NotOnOrAfter")}`, Audience `{cond.find("saml:AudienceRestriction/saml:Audience", NS).text}`'),
        ('AuthnStatement', f'AuthnInstant `{authn.get("AuthnInstant")}`, SessionIndex `{authn.get("SessionIndex")}`, SessionNotOnOrAfter `{authn.get("SessionNotOnOrAfter")}`, class `{authn.find(".//saml:AuthnContextClassRef", NS).text}`'),
        ('attributes (NameFormat basic)', '; '.join(attrs)),
    ]
    for k, v in rows:
        v = v.replace("`None`", "(absent)")
        print(f'| {k} | {v} |')
    print()
