'use strict';
/*
 * Regenerates the samlify encrypted-assertion test fixtures.
 *
 * Uses samlify's IdP API only: IdentityProvider / ServiceProvider settings,
 * loginResponseTemplate (samlify's own default template text, its attribute builder,
 * its attributeStatementTemplate extension point) and createLoginResponse() with the
 * HTTP-POST binding. The file written is the base64-decoded `context` that
 * createLoginResponse() returns, i.e. the exact bytes an SP would receive.
 *
 * Usage (from this folder; the lock file pins samlify 2.15.1 and its dependencies):
 *         (cd samlify-generator && npm ci --ignore-scripts)
 *         NODE_PATH=samlify-generator/node_modules node generate-samlify.js
 *
 * TEST KEYS ONLY: every key used here is a throw-away key generated for tests.
 */
const fs = require('fs');
const path = require('path');
const saml = require('samlify');

const here = __dirname;
const read = (name) => fs.readFileSync(path.join(here, name), 'utf8');

const IDP_ENTITY_ID = 'https://idp.example.test/metadata';
const SP_ENTITY_ID = 'https://sp.example.test/metadata';
const ACS_URL = 'https://sp.example.test/acs';
const REQUEST_ID = '_request-0123456789abcdef';
const WINDOW_MS = 8 * 60 * 60 * 1000; // validity window chosen by the caller's tag callback
const PERSISTENT = 'urn:oasis:names:tc:SAML:2.0:nameid-format:persistent';
const BASIC = 'urn:oasis:names:tc:SAML:2.0:attrname-format:basic';
const POST = 'urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST';

saml.setSchemaValidator({ validate: () => Promise.resolve('skipped') });

// samlify's own default login response template; its `{AuthnStatement}` slot is left empty
// by the library, so the AuthnStatement is written into the template here (placeholders
// filled by replaceTagsByValue, which escapes every value).
const baseContext = saml.SamlLib.defaultLoginResponseTemplate.context.replace(
  '{AuthnStatement}',
  '<saml:AuthnStatement AuthnInstant="{AuthnInstant}" SessionNotOnOrAfter="{SessionNotOnOrAfter}" SessionIndex="{SessionIndex}">'
    + '<saml:AuthnContext><saml:AuthnContextClassRef>urn:oasis:names:tc:SAML:2.0:ac:classes:PasswordProtectedTransport</saml:AuthnContextClassRef></saml:AuthnContext>'
    + '</saml:AuthnStatement>',
);

// Single-valued attributes go through samlify's attribute builder. The builder has one
// value per attribute, so the multi-valued eduPersonAffiliation is added through the
// attributeStatementTemplate extension point, in the same shape the builder produces.
const xsValue = (tag) =>
  '<saml:AttributeValue xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:type="xs:string">{' + tag + '}</saml:AttributeValue>';
const loginResponseTemplate = {
  context: baseContext,
  attributes: [
    { name: 'uid', valueTag: 'uid', nameFormat: BASIC, valueXsiType: 'xs:string' },
    { name: 'displayName', valueTag: 'displayName', nameFormat: BASIC, valueXsiType: 'xs:string' },
    { name: 'givenName', valueTag: 'givenName', nameFormat: BASIC, valueXsiType: 'xs:string' },
    { name: 'sn', valueTag: 'sn', nameFormat: BASIC, valueXsiType: 'xs:string' },
    { name: 'mail', valueTag: 'mail', nameFormat: BASIC, valueXsiType: 'xs:string' },
  ],
  additionalTemplates: {
    attributeStatementTemplate: {
      context: '<saml:AttributeStatement>{Attributes}'
        + '<saml:Attribute Name="eduPersonAffiliation" NameFormat="' + BASIC + '">'
        + xsValue('attrAffiliation1') + xsValue('attrAffiliation2')
        + '</saml:Attribute></saml:AttributeStatement>',
    },
  },
};

const user = {
  nameID: 'zoë-persistent-42',
  uid: 'zoë-persistent-42',
  displayName: 'Zoë Åström',
  givenName: 'Zoë',
  sn: 'Åström',
  mail: 'zoe.astrom@example.test',
  affiliation: ['member', 'student'],
};

function makeIdp(dataEncryptionAlgorithm) {
  const settings = {
    entityID: IDP_ENTITY_ID,
    privateKey: read('test-only-idp-signing.key.pem'),
    signingCert: read('test-only-idp-signing.crt.pem'),
    singleSignOnService: [{ Binding: POST, Location: 'https://idp.example.test/sso' }],
    nameIDFormat: [PERSISTENT],
    isAssertionEncrypted: true,
    loginResponseTemplate,
  };
  if (dataEncryptionAlgorithm) settings.dataEncryptionAlgorithm = dataEncryptionAlgorithm;
  return saml.IdentityProvider(settings);
}

function makeSp(wantAssertionsSigned) {
  return saml.ServiceProvider({
    entityID: SP_ENTITY_ID,
    assertionConsumerService: [{ Binding: POST, Location: ACS_URL }],
    encryptCert: read('test-only-sp-encryption.crt.pem'),
    encPrivateKey: read('test-only-sp-encryption.key.pem'),
    isAssertionEncrypted: true,
    wantAssertionsSigned,
    wantMessageSigned: true,
    nameIDFormat: [PERSISTENT],
  });
}

// The tag callback a samlify IdP supplies (customTagReplacement): fills the template.
function tagCallback(idp, sp) {
  return (template) => {
    const now = new Date();
    const until = new Date(now.getTime() + WINDOW_MS);
    const id = idp.entitySetting.generateID();
    const values = {
      ID: id,
      AssertionID: idp.entitySetting.generateID(),
      Destination: ACS_URL,
      Audience: SP_ENTITY_ID,
      SubjectRecipient: ACS_URL,
      Issuer: IDP_ENTITY_ID,
      IssueInstant: now.toISOString(),
      StatusCode: 'urn:oasis:names:tc:SAML:2.0:status:Success',
      ConditionsNotBefore: now.toISOString(),
      ConditionsNotOnOrAfter: until.toISOString(),
      SubjectConfirmationDataNotOnOrAfter: until.toISOString(),
      NameIDFormat: PERSISTENT,
      NameID: user.nameID,
      InResponseTo: REQUEST_ID,
      AuthnInstant: now.toISOString(),
      SessionNotOnOrAfter: until.toISOString(),
      SessionIndex: idp.entitySetting.generateID(),
      attrUid: user.uid,
      attrDisplayName: user.displayName,
      attrGivenName: user.givenName,
      attrSn: user.sn,
      attrMail: user.mail,
      attrAffiliation1: user.affiliation[0],
      attrAffiliation2: user.affiliation[1],
    };
    return { id, context: saml.SamlLib.replaceTagsByValue(template, values) };
  };
}

const variants = [
  {
    // a. samlify's default data encryption (AES-256-CBC) and key transport (RSA-OAEP-MGF1P).
    file: 'samlify-aes256cbc-rsaoaep-response-signed.xml',
    dataEncryptionAlgorithm: null,
    wantAssertionsSigned: false,
    encryptThenSign: true,
  },
  {
    file: 'samlify-aes256cbc-rsaoaep-response-and-assertion-signed.xml',
    dataEncryptionAlgorithm: null,
    wantAssertionsSigned: true,
    encryptThenSign: true,
  },
  {
    // b. AES-256-GCM chosen through the IdP's dataEncryptionAlgorithm setting.
    file: 'samlify-aes256gcm-rsaoaep-response-signed.xml',
    dataEncryptionAlgorithm: 'http://www.w3.org/2009/xmlenc11#aes256-gcm',
    wantAssertionsSigned: false,
    encryptThenSign: true,
  },
  {
    // samlify's default order (encryptThenSign false): the Response is signed BEFORE the
    // assertion is replaced by EncryptedAssertion, so its signature no longer verifies.
    // Kept as a real-world negative fixture.
    file: 'samlify-aes256cbc-rsaoaep-sign-then-encrypt-response-signature-broken.xml',
    dataEncryptionAlgorithm: null,
    wantAssertionsSigned: false,
    encryptThenSign: false,
  },
];

(async () => {
  for (const v of variants) {
    const idp = makeIdp(v.dataEncryptionAlgorithm);
    const sp = makeSp(v.wantAssertionsSigned);
    const requestInfo = { extract: { request: { id: REQUEST_ID } } };
    const { context } = await idp.createLoginResponse(sp, requestInfo, 'post', { email: user.nameID }, {
      customTagReplacement: tagCallback(idp, sp),
      encryptThenSign: v.encryptThenSign,
    });
    const bytes = Buffer.from(context, 'base64');
    fs.writeFileSync(path.join(here, v.file), bytes);
    console.log(`${v.file}: dataEncryptionAlgorithm=${idp.entitySetting.dataEncryptionAlgorithm} `
      + `keyEncryptionAlgorithm=${idp.entitySetting.keyEncryptionAlgorithm} `
      + `wantAssertionsSigned=${v.wantAssertionsSigned} encryptThenSign=${v.encryptThenSign}`);
  }
})().catch((e) => { console.error(e); process.exit(1); });
