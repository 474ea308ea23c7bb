'use strict';
// A real server on 127.0.0.1 for each app, and plain HTTP/1.1 requests that
// show status, headers, body bytes exactly as sent (no decompression) and trailers.
const http = require('node:http');

async function listen(app) {
  const server = http.createServer(app);
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  return {
    port: server.address().port,
    close: () => new Promise((resolve) => {
      server.closeAllConnections();
      server.close(resolve);
    }),
  };
}

function request(port, path, { method = 'GET', headers = {} } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, path, method, headers, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (chunk) => chunks.push(chunk));
      res.on('end', () => resolve({
        status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks), trailers: res.trailers,
      }));
      res.on('error', reject);
    });
    req.on('error', reject);
    req.end();
  });
}

// A page of prose: enough marked sentences for trace to find an id.
function articlePage(title = 'Garden notes') {
  const sentences = Array.from({ length: 40 }, (_, i) =>
    `The ${i + 1}th bed of tomatoes was watered early in the morning before the heat came. `).join('');
  return `<!DOCTYPE html>\n<html><head><title>${title}</title></head><body>` +
    `<div class="article"><p>${sentences}</p><p>Second paragraph.<br>With a break.</p></div></body></html>`;
}

module.exports = { listen, request, articlePage };
