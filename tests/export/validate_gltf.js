// Runs the Khronos glTF Validator over each file given and prints one line per file:
// "<path> errors=N warnings=N", followed by the messages of those two severities.
// Exit status 1 when any file has an error or a warning, 2 when the validator cannot run.
// Usage: node validate_gltf.js VALIDATOR_DIR FILE...
const fs = require('fs');
const path = require('path');

const [validatorDir, ...files] = process.argv.slice(2);
let validator;
try {
  validator = require(path.join(validatorDir, 'node_modules', 'gltf-validator'));
} catch (e) {
  console.error('cannot load gltf-validator from ' + validatorDir + ': ' + e.message);
  process.exit(2);
}

(async () => {
  let bad = 0;
  for (const file of files) {
    const bytes = new Uint8Array(fs.readFileSync(file));
    const report = await validator.validateBytes(bytes, {
      uri: path.basename(file),
      maxIssues: 0,
      // Files that share their pages name them relative to themselves.
      externalResourceFunction: (uri) =>
        new Promise((resolve, reject) => {
          fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)), (err, data) =>
            err ? reject(err) : resolve(new Uint8Array(data)));
        }),
    });
    const errors = report.issues.numErrors;
    const warnings = report.issues.numWarnings;
    console.log(`${file} errors=${errors} warnings=${warnings}`);
    for (const m of report.issues.messages)
      if (m.severity <= 1) console.log(`  ${m.severity ? 'warning' : 'error'} ${m.code} ${m.pointer || ''}: ${m.message}`);
    if (errors || warnings) bad = 1;
  }
  process.exit(bad);
})().catch((e) => {
  console.error(e);
  process.exit(2);
});
