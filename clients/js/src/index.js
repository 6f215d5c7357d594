// drux-client: the other side of DruxLauncher's wire, in plain JavaScript.
export { MESSAGE_TYPE_NAMES, MessageType, INVALID, TYPE_PREFIX, typeName, typeNumber } from './types.js';
export { Decoder, encodeMessage, validatedType, isAnswered, HEADER_SIZE, VERSION, MAX_PAYLOAD_BYTES } from './wire.js';
export { Connection, ConnectionClosedError, HEARTBEAT_INTERVAL_MS, SILENCE_LIMIT_MS } from './connection.js';
export { AirClient, airPortFromArguments, parseJson } from './air-client.js';
