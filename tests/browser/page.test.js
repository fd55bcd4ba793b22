// The page of GET "/" in a real headless browser: Debian's chromium driven by
// playwright-core. Starts tarvek-server on a free loopback port in a temporary
// directory holding the page, uploads a photo with known page corners, checks
// the drawn corners, drags one, flattens, and checks the flattened size; then
// flattens a photographed receipt and reads it: its fields beside the page and
// its lines drawn over it; then a Korean one, whose Hangul the screenshot shows.
//
// node page.test.js SERVER WWW_DIR PHOTO RECEIPT_PHOTO KOREAN_RECEIPT_PHOTO OUTPUT_DIR
"use strict";

const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const assert = require("node:assert/strict");
let chromium;
try {
  ({ chromium } = require("playwright-core"));
} catch (error) {
  console.error("playwright-core is missing: run npm ci --prefix tests/browser (scripts/test does)");
  process.exit(1);
}

const [server, wwwDir, photo, receiptPhoto, koreanPhoto, outputDir] = process.argv.slice(2).map((p) => path.resolve(p));
if (process.argv.length < 8) {
  console.error("usage: node page.test.js SERVER WWW_DIR PHOTO RECEIPT_PHOTO KOREAN_RECEIPT_PHOTO OUTPUT_DIR");
  process.exit(2);
}

// The page's corners in the photo (tests/data/smartdoc2015/SOURCE.txt), in
// the order of the detect route: top-left, top-right, bottom-right, bottom-left.
const truth = [[333.337, 47.504], [778.93, 17.786], [945.79, 638.216], [433.83, 701.992]];
const photoSize = [1280, 720];
const tolerance = 0.03 * Math.hypot(photoSize[0], photoSize[1]);

function startServer(directory) {
  const child = spawn(server, ["0"], { cwd: directory, stdio: ["ignore", "ignore", "pipe"] });
  let text = "";
  const port = new Promise((resolve, reject) => {
    child.stderr.on("data", (chunk) => {
      text += chunk;
      const match = /tarvek server is running at 0\.0\.0\.0:(\d+)/.exec(text);
      if (match) resolve(Number(match[1]));
    });
    child.on("error", reject);
    child.on("exit", (code) => reject(new Error(`server exited (${code}) before listening:\n${text}`)));
  });
  const stopped = new Promise((resolve) => {
    child.on("exit", (code, signal) => resolve({ code, signal }));
    child.on("error", () => resolve({ code: null, signal: "spawn failed" }));
  });
  return { child, port, stopped, log: () => text };
}

// What the receipt photos say (tests/data/receipts/SOURCE.txt).
const receiptFields = { telephone: "02-721-4567", date: "2019-01-10", total: "7.70" };
const receiptLines = 6;
const koreanFields = { telephone: "1718-8929", date: "2023-01-04" };

// The width and height of the page the rectify route makes of the photo and corners, from its PNG header.
async function routeSize(port, corners) {
  const list = corners.map((p) => `${Math.round(p[0])},${Math.round(p[1])}`).join(",");
  const reply = await fetch(`http://127.0.0.1:${port}/v1/document/rectify?format=png&corners=${list}`,
                            { method: "POST", body: fs.readFileSync(photo) });
  assert.equal(reply.status, 200);
  const png = Buffer.from(await reply.arrayBuffer());
  return [png.readUInt32BE(16), png.readUInt32BE(20)];
}

async function main() {
  fs.mkdirSync(outputDir, { recursive: true });
  const work = fs.mkdtempSync(path.join(os.tmpdir(), "tarvek-page-"));
  fs.copyFileSync(path.join(wwwDir, "index.html"), path.join(work, "index.html"));
  const profile = path.join(work, "profile");
  const run = startServer(work);
  let browser;
  try {
    const port = await run.port;
    // A fresh profile directory per run (the persistent context's user data dir).
    browser = await chromium.launchPersistentContext(profile, {
      executablePath: "/usr/bin/chromium",
      headless: true,
      args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync"],
      viewport: { width: 900, height: 1400 },
      timeout: 20000,
    });
    const page = await browser.newPage();
    page.setDefaultTimeout(15000);
    const outside = [];
    page.on("request", (request) => {
      const url = new URL(request.url());
      if (url.protocol !== "blob:" && url.protocol !== "data:" && url.host !== `127.0.0.1:${port}`)
        outside.push(request.url());
    });
    const problems = [];
    page.on("pageerror", (error) => problems.push(error.message));

    await page.goto(`http://127.0.0.1:${port}/`);
    assert.ok(await page.isVisible("#send"), "the recognise button stays");
    await page.setInputFiles("#doc-file", photo);
    await page.waitForSelector("#doc-canvas[data-corners]");
    const drawn = JSON.parse(await page.getAttribute("#doc-canvas", "data-corners"));
    assert.equal(drawn.length, 4);
    drawn.forEach((p, i) => {
      const off = Math.hypot(p[0] - truth[i][0], p[1] - truth[i][1]);
      assert.ok(off <= tolerance, `corner ${i} at ${p} is ${off.toFixed(1)} px from ${truth[i]} (allowed ${tolerance.toFixed(1)})`);
    });
    assert.deepEqual(await page.evaluate(() => [document.getElementById("doc-canvas").width,
                                                document.getElementById("doc-canvas").height]), photoSize);

    // Drag the bottom-right corner 40 photo pixels right and 30 up with the mouse.
    const box = await page.locator("#doc-canvas").boundingBox();
    const perPixel = box.width / photoSize[0];
    const from = [box.x + drawn[2][0] * perPixel, box.y + drawn[2][1] * perPixel];
    const by = [40, -30];
    await page.mouse.move(from[0] + 2, from[1] - 2);
    await page.mouse.down();
    await page.mouse.move(from[0] + by[0] * perPixel, from[1] + by[1] * perPixel, { steps: 8 });
    await page.mouse.up();
    const dragged = JSON.parse(await page.getAttribute("#doc-canvas", "data-corners"));
    const moved = Math.hypot(dragged[2][0] - (drawn[2][0] + by[0]), dragged[2][1] - (drawn[2][1] + by[1]));
    assert.ok(moved <= 2, `the dragged corner is at ${dragged[2]}, expected about ${[drawn[2][0] + by[0], drawn[2][1] + by[1]]}`);
    [0, 1, 3].forEach((i) => assert.deepEqual(dragged[i], drawn[i], `corner ${i} stays`));

    await page.click("#doc-flatten");
    await page.waitForSelector("#doc-flat[data-size]");
    const size = (await page.getAttribute("#doc-flat", "data-size")).split("x").map(Number);
    assert.deepEqual(size, await routeSize(port, dragged), "the page shows the route's page");
    assert.match(await page.getAttribute("#doc-flat-download", "href"), /^blob:/);

    await page.click("#doc-binarize");
    await page.waitForSelector("#doc-binarized[data-size]");
    assert.equal(await page.getAttribute("#doc-binarized", "data-size"), size.join("x"));

    // A receipt photo found, flattened and read: the lines drawn, the fields shown.
    async function readReceipt(file, language, fields) {
      await page.setInputFiles("#doc-file", file);
      await page.waitForSelector("#doc-canvas[data-corners]");
      await page.click("#doc-flatten");
      await page.waitForSelector("#doc-flat[data-size]");
      await page.selectOption("#doc-lang", language);
      await page.click("#doc-read");
      await page.waitForSelector("#doc-lines[data-lines]", { timeout: 60000 });
      assert.ok(await page.isVisible("#doc-read-result"), "the reading is shown");
      for (const [field, value] of Object.entries(fields)) {
        const shown = await page.textContent(`#doc-fields td[data-field=${field}]`);
        assert.ok(shown.startsWith(value), `${field} shows "${shown}", expected ${value}`);
      }
      return JSON.parse(await page.getAttribute("#doc-lines", "data-lines"));
    }
    const lines = await readReceipt(receiptPhoto, "eng", receiptFields);
    assert.equal(lines.length, receiptLines, `lines read: ${JSON.stringify(lines)}`);
    const korean = await readReceipt(koreanPhoto, "kor+eng", koreanFields);
    assert.ok(korean.some((line) => /[\uac00-\ud7a3]/.test(line)), `no Hangul read: ${JSON.stringify(korean)}`);

    await page.screenshot({ path: path.join(outputDir, "page.png"), fullPage: true });
    assert.deepEqual(outside, [], "the page asks for nothing outside the server");
    assert.deepEqual(problems, [], "the page raises no errors");
    console.log(`corners ${JSON.stringify(drawn)}, flattened ${size.join("x")}, receipt lines ${JSON.stringify(lines)}, ` +
                `screenshot ${path.join(outputDir, "page.png")}`);
  } finally {
    if (browser) await browser.close();
    run.child.kill("SIGTERM");
    const end = await run.stopped;
    fs.rmSync(work, { recursive: true, force: true });
    if (end.code !== 0) {
      console.error(run.log());
      throw new Error(`server ended with ${end.code ?? end.signal}`);
    }
  }
}

main().then(() => process.exit(0), (error) => {
  console.error(error.stack || String(error));
  process.exit(1);
});
