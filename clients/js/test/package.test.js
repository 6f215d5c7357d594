// What npm pack makes, and the declarations against the code.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'node:test';

import * as client from '../src/index.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

it('declares every export of the code in index.d.ts', () => {
    const declarations = readFileSync(path.join(root, 'src/index.d.ts'), 'utf8');
    for (const name of Object.keys(client)) {
        assert.match(declarations, new RegExp(`export (?:declare )?(?:const|function|class) ${name}\\b`), name);
    }
});

it('packs the sources, the declarations and the README, and has no runtime dependencies', () => {
    const manifest = JSON.parse(readFileSync(path.join(root, 'package.json'), 'utf8'));
    assert.equal(manifest.dependencies, undefined);
    const [packed] = JSON.parse(execFileSync('npm', ['pack', '--dry-run', '--json'], { cwd: root, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }));
    const files = packed.files.map((f) => f.path).sort();
    assert.deepEqual(files, ['README.md', 'package.json', 'src/air-client.js', 'src/connection.js', 'src/index.d.ts', 'src/index.js', 'src/types.js', 'src/wire.js']);
    assert.ok(packed.size < 50_000, `${packed.size} bytes`);
});
