#!/usr/bin/env node
// gltf_validate.js FILE...: validates each glTF 2.0 file (.gltf or .glb) with
// the Khronos glTF validator and prints one line per file (its errors,
// warnings and the first few messages). Exits 1 when any file has an error,
// cannot be read or the validator cannot be loaded, 0 otherwise.
//
// The validator is the npm package gltf-validator, looked for on NODE_PATH
// (tools/deps.sh installs it into a cache folder and tests pass that folder).
'use strict';
const fs = require('fs');
const path = require('path');

let validator;
try {
    validator = require('gltf-validator');
} catch (e) {
    console.error('gltf_validate: the npm package gltf-validator is not installed (tools/deps.sh test installs it)');
    process.exit(1);
}

async function validate(file) {
    const bytes = new Uint8Array(fs.readFileSync(file));
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 100,
        externalResourceFunction: (uri) => new Promise((resolve, reject) => {
            fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)),
                        (err, data) => (err ? reject(err.toString()) : resolve(new Uint8Array(data))));
        }),
    });
    const issues = report.issues;
    const shown = issues.messages.filter((m) => m.severity <= 1).slice(0, 5)
        .map((m) => `${m.code} at ${m.pointer || '-'}: ${m.message}`).join('; ');
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings${shown ? ': ' + shown : ''}`);
    return issues.numErrors === 0;
}

(async () => {
    const files = process.argv.slice(2);
    if (files.length === 0) {
        console.error('usage: gltf_validate.js FILE...');
        process.exit(2);
    }
    let ok = true;
    for (const file of files) {
        try {
            ok = (await validate(file)) && ok;
        } catch (e) {
            console.log(`${file}: cannot be validated: ${e}`);
            ok = false;
        }
    }
    process.exit(ok ? 0 : 1);
})();
