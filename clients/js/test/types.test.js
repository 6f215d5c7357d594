// The package's type table against the library's own (core/enum_names.cpp),
// as the dissector's test checks its table.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { it } from 'node:test';

import { MESSAGE_TYPE_NAMES, MessageType, typeName, typeNumber, TYPE_PREFIX } from '../src/index.js';
import { enumNamesFile } from './paths.js';

const file = enumNamesFile();

it('names every type as the library does, in number order', { skip: file ? false : 'no core/enum_names.cpp' }, () => {
    const source = readFileSync(file, 'utf8');
    const table = /kMessageTypeNames\[\] = \{(.*?)\};/s.exec(source)[1];
    const names = [...table.matchAll(/"([A-Z_]+)"/g)].map((m) => m[1]);
    assert.equal(names.length, 38);
    assert.deepEqual(MESSAGE_TYPE_NAMES.map((name) => TYPE_PREFIX + name), names);
    assert.match(source, /kInvalidMessageTypeName\[\] = "VANTRELMESSAGETYPE_INVALID"/);
});

it('turns names into numbers and back', () => {
    assert.equal(MessageType.CHATMESSAGE_TO_GAME, 11);
    assert.equal(MessageType.INVALID, 38);
    assert.equal(typeNumber('VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED'), 8);
    assert.equal(typeNumber('close'), 3);
    assert.equal(typeName(36), 'GAMECLIENT_ENUMERATE_LATEST_VERSIONS');
    assert.equal(typeName(38), 'INVALID');
    assert.equal(typeName(1000), 'INVALID');
    assert.throws(() => typeNumber('FLY'), TypeError);
});
