// Test peer: sends SNMP notifications with the npm net-snmp package, as described by a JSON
// argument.
//
// {"target": "127.0.0.1" or "::1", "port": 162, "version": "1", "2c" or "3",
//  "community": "public", "user": {"name", "auth": "MD5"|"SHA"|null, "authKey",
//  "priv": "DES"|"AES"|null, "privKey"}, "engineId": "hex digits",
//  "notifications": [{"kind": "trap" or "inform", "oid": trap OID or generic trap number,
//                     "agentAddr": "v1 agent address", "upTime": ticks,
//                     "varbinds": [[oid, type, value], ...]}],
//  "burst": {"count": n, "informEvery": k}}
//
// A burst sends n v2c traps (trap OID 1.3.6.1.4.1.99999.0.1, sysUpTime.0 = 100 + i,
// vormaTestOctets.0 = "n<i>") and after every k of them an inform ("barrier<i>"), whose answer is
// awaited before the next traps go out, so that the socket buffers never overflow.
// Types: i Integer, u Gauge, c Counter, t TimeTicks, a IpAddress, o OID, s OctetString.
// Prints one JSON line per notification: {"error": text or null}.
"use strict";
const snmp = require("net-snmp");

const TYPES = {
    i: snmp.ObjectType.Integer,
    u: snmp.ObjectType.Gauge,
    c: snmp.ObjectType.Counter,
    t: snmp.ObjectType.TimeTicks,
    a: snmp.ObjectType.IpAddress,
    o: snmp.ObjectType.OID,
    s: snmp.ObjectType.OctetString,
};
const NUMERIC = new Set(["i", "u", "c", "t"]);

function varbindsOf(list) {
    return (list || []).map(([oid, type, value]) => ({
        oid,
        type: TYPES[type],
        value: NUMERIC.has(type) ? Number(value) : value,
    }));
}

function openSession(job) {
    const options = {
        port: job.port || 162,
        trapPort: job.port || 162,
        transport: (job.target || "").includes(":") ? "udp6" : "udp4",
        retries: 0,
        timeout: 3000,
    };
    const target = job.target || "127.0.0.1";
    if (job.version === "3") {
        const user = job.user;
        const level = user.priv ? snmp.SecurityLevel.authPriv
                    : user.auth ? snmp.SecurityLevel.authNoPriv
                                : snmp.SecurityLevel.noAuthNoPriv;
        const v3user = { name: user.name, level };
        if (user.auth) {
            v3user.authProtocol = user.auth === "MD5" ? snmp.AuthProtocols.md5 : snmp.AuthProtocols.sha;
            v3user.authKey = user.authKey;
        }
        if (user.priv) {
            v3user.privProtocol = user.priv === "DES" ? snmp.PrivProtocols.des : snmp.PrivProtocols.aes;
            v3user.privKey = user.privKey;
        }
        if (job.engineId) {
            options.engineID = job.engineId;
        }
        return snmp.createV3Session(target, v3user, options);
    }
    options.version = job.version === "1" ? snmp.Version1 : snmp.Version2c;
    return snmp.createSession(target, job.community || "public", options);
}

function send(session, notification) {
    return new Promise((resolve) => {
        const done = (error) => resolve(error ? String(error.message || error) : null);
        const varbinds = varbindsOf(notification.varbinds);
        const options = {};
        if (notification.upTime !== undefined) {
            options.upTime = notification.upTime;
        }
        if (notification.agentAddr !== undefined) {
            options.agentAddr = notification.agentAddr;
        }
        if (notification.kind === "inform") {
            session.inform(notification.oid, varbinds, options, done);
        } else {
            session.trap(notification.oid, varbinds, options, done);
        }
    });
}

async function main() {
    const job = JSON.parse(process.argv[2]);
    const session = openSession(job);
    for (const notification of job.notifications || []) {
        console.log(JSON.stringify({ error: await send(session, notification) }));
    }
    if (job.burst) {
        const errors = [];
        for (let i = 0; i < job.burst.count; ++i) {
            const error = await send(session, {
                kind: "trap", oid: "1.3.6.1.4.1.99999.0.1", upTime: 100 + i,
                varbinds: [["1.3.6.1.4.1.99999.1.5.0", "s", "n" + i]],
            });
            if (error) {
                errors.push(error);
            }
            if ((i + 1) % job.burst.informEvery === 0) {
                const informError = await send(session, {
                    kind: "inform", oid: "1.3.6.1.4.1.99999.0.1", upTime: 100 + i,
                    varbinds: [["1.3.6.1.4.1.99999.1.5.0", "s", "barrier" + i]],
                });
                if (informError) {
                    errors.push(informError);
                }
            }
        }
        console.log(JSON.stringify({ error: errors.length ? errors.join("; ") : null }));
    }
    session.close();
}

main().catch((error) => {
    console.log(JSON.stringify({ error: String(error) }));
    process.exit(1);
});
