<?php
/*
 * Regenerates the SimpleSAMLphp encrypted-assertion test fixtures.
 *
 * Runs the IdP's own response-building code of the Debian package `simplesamlphp`
 * (modules/saml/lib/IdP/SAML2.php): its private static buildAssertion(),
 * encryptAssertion() and buildResponse() are called through reflection with
 * IdP-hosted and SP-remote metadata arrays, exactly as sendResponse() calls them;
 * the NameID comes from the real `saml:AttributeNameID` authproc filter; the bytes
 * are serialised exactly as the HTTP-POST binding does (toSignedXML() + saveXML()).
 * No XML is built by hand.
 *
 * Variants a-c are what the IdP emits for the given SP metadata. Variant d is NOT
 * reachable through the IdP's configuration (with an RSA key the IdP hard-codes
 * AES-128-CBC): it is the same library code with AES-256-GCM as the session-key
 * algorithm, see encryptWithKeyTransport().
 *
 * Usage (from this folder):  php generate-simplesamlphp.php
 * Needs: apt-get install simplesamlphp php-cli php-xml php-mbstring
 * Writes simplesamlphp-*.xml and prints the chosen settings per file.
 *
 * TEST KEYS ONLY: every key used here is a throw-away key generated for tests.
 */

declare(strict_types=1);

require '/usr/share/simplesamlphp/vendor/autoload.php';

use RobRichards\XMLSecLibs\XMLSecurityKey;
use SAML2\Constants;
use SimpleSAML\Configuration;

$here = __DIR__;

const IDP_ENTITY_ID = 'https://idp.example.test/metadata';
const SP_ENTITY_ID = 'https://sp.example.test/metadata';
const ACS_URL = 'https://sp.example.test/acs';
const REQUEST_ID = '_request-0123456789abcdef';
// 8 hours: the longest window a test clock needs; SimpleSAMLphp takes any integer here.
const ASSERTION_LIFETIME = 8 * 60 * 60;
// 32 ASCII bytes used as the raw AES-256 key of the pre-shared-key ("sharedkey") mode.
const SHARED_KEY_FILE = 'test-only-sp-sharedkey-aes256.bin';

// Global configuration: only what the IdP code reads (certdir, logging, session length).
Configuration::setPreLoadedConfig(Configuration::loadFromArray([
    'baseurlpath' => 'https://idp.example.test/simplesaml/',
    'certdir' => $here . '/',
    'logging.handler' => 'stderr',
    'logging.level' => \SimpleSAML\Logger::WARNING,
    'session.duration' => 8 * 60 * 60,
    'secretsalt' => 'corvane-test-only-salt',
    'module.enable' => ['saml' => true],
], '[generator config]', 'simplesaml'));

function certBody(string $pemFile): string
{
    $pem = file_get_contents($pemFile);
    if (!preg_match('/-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----/s', $pem, $m)) {
        throw new RuntimeException("no certificate in $pemFile");
    }
    return preg_replace('/\s+/', '', $m[1]);
}

function callPrivate(string $method, array $args)
{
    $m = new ReflectionMethod(\SimpleSAML\Module\saml\IdP\SAML2::class, $method);
    $m->setAccessible(true);
    return $m->invokeArgs(null, $args);
}

/**
 * Library-level variant, NOT reachable through the IdP's configuration: the lines of
 * \SAML2\EncryptedAssertion::setAssertion() for an RSA-OAEP-MGF1P key, except that the
 * session key uses $dataAlgorithm instead of the hard-coded AES-128-CBC. The same xmlseclibs
 * calls (XMLSecEnc::encryptKey / encryptNode); the result is placed in the EncryptedAssertion
 * object's private $encryptedData, which is what setAssertion() itself fills.
 */
function encryptWithKeyTransport(\SAML2\Assertion $assertion, string $dataAlgorithm): \SAML2\EncryptedAssertion
{
    $pem = file_get_contents(__DIR__ . '/test-only-sp-encryption.crt.pem');
    $key = new XMLSecurityKey(XMLSecurityKey::RSA_OAEP_MGF1P, ['type' => 'public']);
    $key->loadKey($pem);

    $enc = new \RobRichards\XMLSecLibs\XMLSecEnc();
    $enc->setNode($assertion->toXML());
    $enc->type = \RobRichards\XMLSecLibs\XMLSecEnc::Element;

    $symmetricKey = new XMLSecurityKey($dataAlgorithm);
    $symmetricKey->generateSessionKey();
    $enc->encryptKey($key, $symmetricKey);

    $ea = new \SAML2\EncryptedAssertion();
    $property = new ReflectionProperty(\SAML2\EncryptedAssertion::class, 'encryptedData');
    $property->setAccessible(true);
    $property->setValue($ea, $enc->encryptNode($symmetricKey));
    return $ea;
}

/**
 * Builds one response as the IdP's sendResponse() does, returns the exact POSTed XML.
 */
function buildResponseXml(array $idpMetaArray, array $spMetaArray, ?string $directDataAlgorithm = null): string
{
    $idpMetadata = Configuration::loadFromArray($idpMetaArray, '[idp-hosted]');
    $spMetadata = Configuration::loadFromArray($spMetaArray, '[sp-remote]');

    $now = time();
    $state = [
        'Attributes' => [
            'uid' => ['zoë-persistent-42'],
            'displayName' => ['Zoë Åström'],
            'givenName' => ['Zoë'],
            'sn' => ['Åström'],
            'mail' => ['zoe.astrom@example.test'],
            'eduPersonAffiliation' => ['member', 'student'],
            'eduPersonPrincipalName' => ['zoe@example.test'],
        ],
        'IdPMetadata' => $idpMetaArray,
        'SPMetadata' => $spMetaArray,
        'saml:ConsumerURL' => ACS_URL,
        'saml:RequestId' => REQUEST_ID,
        'saml:RelayState' => null,
        'saml:Binding' => Constants::BINDING_HTTP_POST,
        'saml:NameIDFormat' => Constants::NAMEID_PERSISTENT,
        'saml:AuthnContextClassRef' => Constants::AC_PASSWORD_PROTECTED_TRANSPORT,
        'AuthnInstant' => $now,
    ];

    // The authproc filter a deployment configures to emit a persistent NameID from an attribute.
    $filter = new \SimpleSAML\Module\saml\Auth\Process\AttributeNameID([
        'Format' => Constants::NAMEID_PERSISTENT,
        'attribute' => 'uid',
        'NameQualifier' => true,
        'SPNameQualifier' => true,
    ], null);
    $filter->process($state);

    // The body of SAML2::sendResponse(), minus session bookkeeping and the HTTP send.
    $assertion = callPrivate('buildAssertion', [$idpMetadata, $spMetadata, &$state]);
    if ($directDataAlgorithm === null) {
        $assertion = callPrivate('encryptAssertion', [$idpMetadata, $spMetadata, $assertion]);
    } else {
        $assertion = encryptWithKeyTransport($assertion, $directDataAlgorithm);
    }
    $ar = callPrivate('buildResponse', [$idpMetadata, $spMetadata, ACS_URL]);
    $ar->setInResponseTo(REQUEST_ID);
    $ar->setRelayState(null);
    $ar->setAssertions([$assertion]);

    // What \SAML2\HTTPPost::send() serialises before base64-encoding it.
    $element = $ar->toSignedXML();
    return $element->ownerDocument->saveXML($element);
}

$idpHosted = [
    'entityid' => IDP_ENTITY_ID,
    'host' => '__DEFAULT__',
    'privatekey' => 'test-only-idp-signing.key.pem',
    'certificate' => 'test-only-idp-signing.crt.pem',
    'auth' => 'example-userpass',
    'assertion.lifetime' => ASSERTION_LIFETIME,
    'NameIDFormat' => Constants::NAMEID_PERSISTENT,
];

$spRemoteBase = [
    'entityid' => SP_ENTITY_ID,
    'metadata-set' => 'saml20-sp-remote',
    'AssertionConsumerService' => [[
        'Binding' => Constants::BINDING_HTTP_POST,
        'Location' => ACS_URL,
        'index' => 0,
    ]],
    'NameIDFormat' => Constants::NAMEID_PERSISTENT,
    'keys' => [[
        'encryption' => true,
        'signing' => false,
        'type' => 'X509Certificate',
        'X509Certificate' => certBody($here . '/test-only-sp-encryption.crt.pem'),
    ]],
    'assertion.encryption' => true,
];

$variants = [
    // a. Defaults: Response and Assertion signed (RSA-SHA256), AES-128-CBC + RSA-OAEP-MGF1P.
    'simplesamlphp-aes128cbc-rsaoaep-response-and-assertion-signed.xml' => [
        'saml20.sign.response' => true,
        'saml20.sign.assertion' => true,
    ],
    // b. Response signed, inner Assertion not signed.
    'simplesamlphp-aes128cbc-rsaoaep-response-signed-assertion-unsigned.xml' => [
        'saml20.sign.response' => true,
        'saml20.sign.assertion' => false,
    ],
    // c. The only way this IdP emits GCM: a pre-shared symmetric key ("sharedkey") with
    //    sharedkey_algorithm AES-256-GCM. No EncryptedKey / key transport in that mode.
    'simplesamlphp-aes256gcm-sharedkey-response-and-assertion-signed.xml' => [
        'saml20.sign.response' => true,
        'saml20.sign.assertion' => true,
        'sharedkey' => file_get_contents($here . '/' . SHARED_KEY_FILE),
        'sharedkey_algorithm' => XMLSecurityKey::AES256_GCM,
    ],
    // d. Library-level (see encryptWithKeyTransport): RSA-OAEP-MGF1P + AES-256-GCM.
    'simplesamlphp-library-aes256gcm-rsaoaep-response-and-assertion-signed.xml' => [
        'saml20.sign.response' => true,
        'saml20.sign.assertion' => true,
        '_directDataAlgorithm' => XMLSecurityKey::AES256_GCM,
    ],
];

foreach ($variants as $file => $spOverrides) {
    $direct = $spOverrides['_directDataAlgorithm'] ?? null;
    unset($spOverrides['_directDataAlgorithm']);
    $xml = buildResponseXml($idpHosted, array_merge($spRemoteBase, $spOverrides), $direct);
    file_put_contents($here . '/' . $file, $xml);
    $shown = $spOverrides;
    if (isset($shown['sharedkey'])) {
        $shown['sharedkey'] = '(contents of ' . SHARED_KEY_FILE . ')';
    }
    if ($direct !== null) {
        $shown['library-level data encryption'] = $direct;
    }
    echo $file, ': ', json_encode($shown, JSON_UNESCAPED_SLASHES), "\n";
}
