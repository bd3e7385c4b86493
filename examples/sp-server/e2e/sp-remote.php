<?php
/*
 * Turns the SP metadata a corvane-sp-server serves (/metadata) into the
 * IdP's saml20-sp-remote entry, with SimpleSAMLphp's own metadata parser.
 * Used by scripts/e2e.
 *
 * Usage: php sp-remote.php METADATA.xml ENCRYPT(0|1) >> saml20-sp-remote.php
 * SIMPLESAMLPHP_CONFIG_DIR must name the IdP's configuration.
 */

declare(strict_types=1);

require '/usr/share/simplesamlphp/lib/_autoload.php';

[$self, $file, $encrypt] = $argv;
$entities = \SimpleSAML\Metadata\SAMLParser::parseDescriptorsString(file_get_contents($file));
foreach ($entities as $entityId => $entity) {
    $metadata = $entity->getMetadata20SP();
    // The SP signs its requests: the IdP checks every signature.
    $metadata['validate.authnrequest'] = true;
    // ... and every logout message it sends.
    $metadata['validate.logout'] = true;
    // Encrypt the assertion to the SP's encryption certificate.
    $metadata['assertion.encryption'] = $encrypt === '1';
    echo '$metadata[' . var_export($entityId, true) . '] = ' . var_export($metadata, true) . ";\n";
}
