// usage: node validate-bom.js BOM.json  — validates a CycloneDX 1.5 JSON bill of materials against
// the format's published JSON schema with the CycloneDX library's own validator (the schema files
// ship inside @cyclonedx/cyclonedx-library; scripts/check-kit installs the pinned versions).
const fs = require('fs');
const { Validation } = require('@cyclonedx/cyclonedx-library');
// The library names each format version by its text.
const version = '1.5';

if (process.argv.length !== 3) {
  console.error('usage: node validate-bom.js BOM.json');
  process.exit(2);
}
const text = fs.readFileSync(process.argv[2], 'utf8');
new Validation.JsonStrictValidator(version).validate(text).then(
  (errors) => {
    if (errors === null) {
      console.log(`${process.argv[2]}: valid CycloneDX 1.5`);
      process.exit(0);
    }
    console.error(`${process.argv[2]}: not valid CycloneDX 1.5:\n${JSON.stringify(errors, null, 1)}`);
    process.exit(1);
  },
  (failure) => {
    console.error(`${process.argv[2]}: the validator failed: ${failure}`);
    process.exit(1);
  });
