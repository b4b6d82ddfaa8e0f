// A static file server for the page, on 127.0.0.1 only (a browser offers WebGPU to pages from
// http://127.0.0.1 and http://localhost, not to file: URLs):
//   node web/serve.mjs ROOT [PORT]     (PORT 0 or left out: any free port)
// It prints the page's URL and serves until it is stopped. The tests import `serve`.
import {createReadStream, statSync} from 'node:fs';
import {createServer} from 'node:http';
import {extname, join, normalize, resolve, sep} from 'node:path';
import {fileURLToPath} from 'node:url';

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.txt': 'text/plain; charset=utf-8',
  '.png': 'image/png',
};

// Serves the files under `root`; resolves to the listening server.
export function serve(root, port = 0) {
  const base = resolve(root);
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    let file = normalize(join(base, path.endsWith('/') ? `${path}index.html` : path));
    if (file !== base && !file.startsWith(base + sep)) file = null;  // outside the root
    let size = -1;
    try {
      if (file && statSync(file).isFile()) size = statSync(file).size;
    } catch {
      size = -1;
    }
    if (size < 0 || (request.method !== 'GET' && request.method !== 'HEAD')) {
      response.writeHead(size < 0 ? 404 : 405, {'Content-Type': 'text/plain'});
      response.end(size < 0 ? 'not found\n' : 'method not allowed\n');
      return;
    }
    response.writeHead(200, {
      'Content-Type': types[extname(file)] || 'application/octet-stream',
      'Content-Length': size,
      'Cache-Control': 'no-cache'
    });
    if (request.method === 'HEAD')
      response.end();
    else
      createReadStream(file).pipe(response);
  });
  return new Promise((done, failed) => {
    server.once('error', failed);
    server.listen(port, '127.0.0.1', () => done(server));
  });
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const [root, port] = process.argv.slice(2);
  if (!root) {
    console.error('usage: node serve.mjs ROOT [PORT]');
    process.exit(2);
  }
  serve(root, Number(port || 0))
      .then(
          (server) => {
            console.log(
                `ORV is served at http://127.0.0.1:${server.address().port}/ (Ctrl+C stops it)`);
          },
          (error) => {
            const taken = error.code === 'EADDRINUSE';
            console.error(
                taken ? `serve.mjs: port ${port} is taken; choose another (scripts/web --port P)` :
                        `serve.mjs: ${error.message}`);
            process.exit(1);
          });
}
