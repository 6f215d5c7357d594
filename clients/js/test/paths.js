// Where the tests find the repository's files and the build: from the
// environment (ctest sets it) or relative to this package inside the repository.
import { existsSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '../../..');

function pick(variable, fallback) {
    const value = process.env[variable] || fallback;
    return existsSync(value) ? value : null;
}

export const vectorsFile = () => pick('DRUX_VECTORS', path.join(repoRoot, 'tests/vectors/wire.json'));
export const enumNamesFile = () => pick('DRUX_ENUM_NAMES', path.join(repoRoot, 'core/enum_names.cpp'));
export const appsDir = () => pick('DRUX_APPS_DIR', path.join(repoRoot, 'build/default/apps'));
export const testSeamsDir = () => pick('DRUX_TEST_SEAMS_DIR', path.join(repoRoot, 'build/default/tests/test-seams'));
