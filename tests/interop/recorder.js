// A Sparkplug B client for the interop test, built on Eclipse Tahu's payload library and the
// mqtt package, not on velduo's code: it subscribes to FILTER and prints every message, decoded,
// as a line of JSON; each line read from its input, {"topic", "payload", "retain"}, is published
// (a payload object encoded as Sparkplug B, a string as it is). With a CLIENT_ID its session is
// persistent: what the broker kept for it while it was away comes first.
//   node recorder.js URL FILTER [CLIENT_ID]
'use strict';
const mqtt = require('mqtt');
const sparkplug = require('sparkplug-payload').get('spBv1.0');
const readline = require('readline');

const [url, filter, clientId] = process.argv.slice(2);

// 64-bit fields come as Long objects: numbers are exact up to 2^53, enough for what is asserted.
function plain(key, value) {
    if (value && typeof value === 'object' && 'low' in value && 'high' in value &&
        'unsigned' in value)
        return Number(BigInt.asUintN(64, (BigInt(value.high >>> 0) << 32n) |
                                         BigInt(value.low >>> 0)));
    return value;
}

function print(object) {
    process.stdout.write(JSON.stringify(object, plain) + '\n');
}

const client = mqtt.connect(url, clientId ? { clean: false, clientId, reconnectPeriod: 0, protocolVersion: 4 }
                                          : { clean: true, reconnectPeriod: 0, protocolVersion: 4 });
client.on('connect', () => {
    client.subscribe(filter, { qos: 1 }, (error) => print({ event: error ? 'error' : 'ready',
                                                          text: String(error || '') }));
});
client.on('error', (error) => print({ event: 'error', text: String(error) }));
client.on('close', () => print({ event: 'closed' }));
client.on('message', (topic, message, packet) => {
    if (topic.split('/')[1] === 'STATE') {
        print({ topic, retain: packet.retain, state: message.toString() });
        return;
    }
    try {
        print({ topic, retain: packet.retain, payload: sparkplug.decodePayload(message) });
    } catch (error) {
        print({ topic, error: String(error) });
    }
});

readline.createInterface({ input: process.stdin }).on('line', (line) => {
    const command = JSON.parse(line);
    const body = typeof command.payload === 'string' ? command.payload
                                                     : sparkplug.encodePayload(command.payload);
    client.publish(command.topic, body, { qos: 1, retain: !!command.retain },
                   () => print({ event: 'published', topic: command.topic }));
});
process.stdin.on('end', () => client.end(false, {}, () => process.exit(0)));
