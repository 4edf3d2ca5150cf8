// The viewer page in Chromium: a headless broadcast of the test pattern and the test tone serves
// www/index.htm; the page must show moving video at the device's size and, after a click on its
// sound button, feed the tone into its audio graph.
//   node viewer-page.test.mjs PATH/TO/streamwright PATH/TO/index.htm
// Exit 0 passed, 1 failed, 77 skipped (only when the browser cannot start).

import { spawn, spawnSync } from "node:child_process";
import net from "node:net";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import puppeteer from "puppeteer-core";

const [program, page] = process.argv.slice(2);
const chromium = process.env.SW_CHROMIUM || "/usr/bin/chromium";
const failures = [];
function check(ok, what) {
  console.log((ok ? "ok   " : "FAIL ") + what);
  if (!ok) {
    failures.push(what);
  }
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), "sw-browser-"));
fs.mkdirSync(path.join(dir, "www"));
fs.copyFileSync(page, path.join(dir, "www", "index.htm"));
const ini = path.join(dir, "streamwright.ini");
function freePort() {
  return new Promise((resolve) => {
    const probe = net.createServer().listen(0, "127.0.0.1", () => {
      const port = probe.address().port;
      probe.close(() => resolve(port));
    });
  });
}
const videoPort = await freePort();
const audioPort = await freePort();
// Frame numbers in the overlay; the per-packet "Socket write" entries off (nobody reads them here).
fs.writeFileSync(ini, [
  "[Video]", "Enabled=1", "Device=Test Pattern", "Port=" + videoPort,
  "[Audio]", "Enabled=1", "Device=Test Tone", "Port=" + audioPort,
  "[Web]", "Enabled=1", "Port=0", "Path=" + path.join(dir, "www"), "Page=index.htm",
  "[Broadcast]", "Host=1", "HostAddress=127.0.0.1",
  "[Text]", "Format=5", "Custom=[frame]", "Size=28",
  "[Log]", "20=0", "33=0", "",
].join("\r\n"));

// The page updater writes this broadcast's host and ports into the applet element, as an operator would.
const updated = spawnSync(program, ["--update-html", "--ini", ini], { encoding: "utf8" });
check(updated.status === 0, "--update-html rewrote the page: " + (updated.stderr || "").trim());

const server = spawn(program, ["--headless", "--start", "--ini", ini], { stdio: ["ignore", "ignore", "pipe"] });
let serverErrors = "";
const webPort = await new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error("the broadcast did not start:\n" + serverErrors)), 30000);
  server.stderr.on("data", (chunk) => {
    serverErrors += chunk;
    const found = /, web port (\d+)/.exec(serverErrors);
    if (found) {
      clearTimeout(timer);
      resolve(Number(found[1]));
    }
  });
  server.on("exit", (code) => reject(new Error("the program ended with " + code + ":\n" + serverErrors)));
});
server.removeAllListeners("exit");

let browser = null;
let exitCode = 1;
try {
  try {
    browser = await puppeteer.launch({
      executablePath: chromium,
      headless: true,
      userDataDir: path.join(dir, "profile"),
      args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage"],
      timeout: 60000,
    });
  } catch (error) {
    console.log("SKIPPED: chromium cannot start (" + chromium + "): " + error.message);
    exitCode = 77;
    throw null;
  }
  const tab = await browser.newPage();
  tab.on("pageerror", (error) => check(false, "no script error on the page: " + error.message));
  await tab.setViewport({ width: 800, height: 900 });
  await tab.goto("http://127.0.0.1:" + webPort + "/index.htm", { waitUntil: "domcontentloaded", timeout: 60000 });

  await tab.waitForFunction(() => window.streamwright && window.streamwright.frames > 3, { timeout: 60000 });
  const size = await tab.$eval("#video", (img) => [img.naturalWidth, img.naturalHeight]);
  check(size[0] === 640 && size[1] === 480, "the picture is 640x480 (got " + size.join("x") + ")");

  // Distinct pictures that the <img> itself shows, sampled through a small canvas (the overlay's frame
  // number changes it every frame) for two seconds; a machine busy with other work gets five tries.
  let best = 0;
  for (let attempt = 0; attempt < 5 && best < 20; attempt++) {
    const distinct = await tab.evaluate(async () => {
      const img = document.getElementById("video");
      const canvas = document.createElement("canvas");
      canvas.width = 160;
      canvas.height = 120;
      const context = canvas.getContext("2d", { willReadFrequently: true });
      const seen = new Set();
      const end = performance.now() + 2000;
      while (performance.now() < end) {
        context.drawImage(img, 0, 0, canvas.width, canvas.height);
        const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
        let hash = 2166136261;
        for (let i = 0; i < pixels.length; i++) {
          hash = Math.imul(hash ^ pixels[i], 16777619);
        }
        seen.add(hash >>> 0);
        await new Promise((resolve) => setTimeout(resolve, 10));
      }
      return seen.size;
    });
    best = Math.max(best, distinct);
  }
  check(best >= 20, "the <img> showed " + best + " different frames in 2 seconds (20 or more)");
  const state = await tab.evaluate(() => ({ ...window.streamwright }));
  console.log("page: " + state.frames + " frames shown, newest number " + state.frameNumber + ", " +
    state.fps.toFixed(1) + " fps");
  check(await tab.$eval("#rate", (e) => /^\d+\.\d fps$/.test(e.textContent)), "the frame rate is shown");
  check(await tab.$eval("#snapshot", (a) => a.getAttribute("href").endsWith("live/snapshot.jpg")),
    "the snapshot link points at the live snapshot");
  const command = await tab.$eval("#client-command", (e) => e.textContent);
  check(command.endsWith("--host 127.0.0.1 --video-port " + videoPort + " --audio-port " + audioPort),
    "the viewer tool's command carries the ports the updater wrote: " + command);

  if (process.env.SW_SCREENSHOT) {
    await tab.screenshot({ path: process.env.SW_SCREENSHOT, fullPage: true });
  }
  check(state.audioSamples === 0, "no sound before the click");
  await tab.click("#sound");
  let played = false;
  try {
    await tab.waitForFunction(() => window.streamwright.audioPlayed >= 4000, { timeout: 30000 });
    played = true;
  } catch {
    played = false;
  }
  const sound = await tab.evaluate(() => ({ ...window.streamwright }));
  check(played, "after the click the audio graph played " + sound.audioPlayed + " samples (of " +
    sound.audioSamples + " decoded; 4000 or more)");
  check(await tab.$eval("#sound", (b) => b.textContent === "Mute"), "the sound button now mutes");

  // The stream drops when the broadcast stops; the page says so and keeps trying.
  server.kill("SIGTERM");
  await new Promise((resolve) => server.once("exit", resolve));
  let reconnecting = false;
  try {
    await tab.waitForFunction(() => /reconnecting in/.test(document.getElementById("status").textContent),
      { timeout: 30000 });
    reconnecting = true;
  } catch {
    reconnecting = false;
  }
  check(reconnecting, "a lost stream is retried: " + await tab.$eval("#status", (e) => e.textContent));
  exitCode = failures.length === 0 ? 0 : 1;
} catch (error) {
  if (error !== null) {
    console.log("FAIL " + (error && error.stack ? error.stack : error));
    exitCode = 1;
  }
} finally {
  if (browser) {
    await browser.close().catch(() => {});
  }
  if (server.exitCode === null) {
    server.kill("SIGTERM");
  }
  fs.rmSync(dir, { recursive: true, force: true });
}
process.exit(exitCode);
