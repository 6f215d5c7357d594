// The shared vectors of tests/vectors/wire.json through the Decoder (as the
// chunks arrive, all in one, and one byte at a time), and the package's type
// table against the library's own (core/enum_names.cpp), as the dissector's test checks its table.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { describe, it } from 'node:test';

import { Decoder, encodeMessage, HEADER_SIZE, MAX_PAYLOAD_BYTES, MESSAGE_TYPE_NAMES, MessageType, typeName, typeNumber, TYPE_PREFIX } from '../src/index.js';
import { enumNamesFile, vectorsFile } from './paths.js';

const file = vectorsFile();
const vectors = file ? JSON.parse(readFileSync(file, 'utf8')) : { cases: [] };

function decode(chunks) {
    const decoder = new Decoder();
    const messages = chunks.flatMap((chunk) => decoder.push(chunk));
    return {
        messages: messages.map((m) => ({ type: m.type, name: typeName(m.type), payload: m.payload, answered: m.answered })),
        end: decoder.closed ? 'closed' : 'open',
        pending: decoder.closed ? 0 : decoder.buffered + (decoder.header ? HEADER_SIZE : 0),
    };
}

function splits(hexChunks) {
    const chunks = hexChunks.map((hex) => Buffer.from(hex, 'hex'));
    const whole = Buffer.concat(chunks);
    return {
        'as the chunks arrive': chunks,
        'all in one': [whole],
        'one byte at a time': [...whole].map((byte) => Buffer.from([byte])),
    };
}

describe('the shared wire vectors', { skip: file ? false : 'tests/vectors/wire.json is not here' }, () => {
    it('has the limit of the library', () => assert.equal(vectors.limit, MAX_PAYLOAD_BYTES));
    for (const vector of vectors.cases) {
        for (const [how, chunks] of Object.entries(splits(vector.chunks))) {
            it(`${vector.name} (${how})`, () => {
                assert.deepEqual(decode(chunks), { messages: vector.messages, end: vector.end, pending: vector.pending });
            });
        }
    }
    it('encodes each sound message of the vectors back to its bytes', () => {
        for (const vector of vectors.cases) {
            const bytes = Buffer.from(vector.chunks.join(''), 'hex');
            if (vector.flagged.length > 0 || vector.end !== 'open' || vector.pending !== 0) continue;
            if (bytes.includes(0, HEADER_SIZE)) continue; // a zero byte in a payload is refused
            const encoded = Buffer.concat(vector.messages.map((m) => encodeMessage(m.type, m.payload)));
            assert.equal(encoded.toString('hex'), bytes.toString('hex'), vector.name);
        }
    });
});

const enumNames = enumNamesFile();
it('names every type as the library does, in number order', { skip: enumNames ? false : 'no core/enum_names.cpp' }, () => {
    const source = readFileSync(enumNames, 'utf8');
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
