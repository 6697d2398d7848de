// The reference AT Protocol server for the tests, set up as the reference's
// own development network without an AppView sets it up: a PDS and a PLC
// directory whose database is in memory. Run by rig/pds.py:
//
//   node serve.js PORT
//
// serves the PDS over plain HTTP on 127.0.0.1:PORT (the PLC directory on a
// free port beside it), prints one line "ready PDS-PORT PLC-PORT" when both
// answer, and closes both on SIGTERM. Data, blobs and the like go under
// TMPDIR, which the caller points into its own folder.
'use strict'

const net = require('node:net')

// Both servers call listen(port) with no host, which would take every
// address of the machine: the tests need loopback alone.
const listen = net.Server.prototype.listen
net.Server.prototype.listen = function (...args) {
  if (typeof args[0] === 'number' && (args.length === 1 || typeof args[1] === 'function')) {
    args.splice(1, 0, '127.0.0.1')
  }
  return listen.apply(this, args)
}

const { TestNetworkNoAppView } = require('@atproto/dev-env')

async function main() {
  const port = Number(process.argv[2])
  if (!Number.isInteger(port) || port <= 0 || port > 65535) {
    throw new Error('usage: node serve.js PORT')
  }
  const network = await TestNetworkNoAppView.create({ pds: { port } })
  let closing = false
  const close = () => {
    if (closing) return
    closing = true
    network.close().then(
      () => process.exit(0),
      (err) => {
        console.error('closing failed:', err)
        process.exit(1)
      },
    )
  }
  process.on('SIGTERM', close)
  process.on('SIGINT', close)
  console.log(`ready ${network.pds.port} ${network.plc.port}`)
}

main().catch((err) => {
  console.error(err)
  process.exit(1)
})
