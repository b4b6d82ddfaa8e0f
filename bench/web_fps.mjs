// The page's speed beside orv-view's on the same adapter:
//   node bench/web_fps.mjs [SECONDS]     (after ./scripts/web's build and a release build)
// prints the size of the WebAssembly core, the time from loading the page to its first frame,
// and the frames per second of the default scene at 1280×720 in headless Chromium (Debian's,
// WebGPU on SwiftShader) and of orv-view in a window of the same size under an Xvfb of its own
// (Vulkan on SwiftShader, --no-vsync), each over SECONDS (default 10) after two of warming up.
import {execFileSync, spawn} from 'node:child_process';
import {statSync} from 'node:fs';
import {createRequire} from 'node:module';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const seconds = Number(process.argv[2] || 10);
const site = join(root, 'build', 'web', 'site');
const fromTests = createRequire(join(root, 'tests', 'web', 'package.json'));
const puppeteer = (await import(fromTests.resolve('puppeteer-core'))).default;
const {serve} = await import(join(root, 'web', 'serve.mjs'));
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const swiftshader = '/usr/lib/chromium/vk_swiftshader_icd.json';

async function browserFps() {
  const server = await serve(site);
  const browser = await puppeteer.launch({
    executablePath: '/usr/lib/chromium/chromium',
    headless: true,
    args: [
      '--headless=new', '--no-sandbox', '--enable-unsafe-webgpu', '--enable-features=Vulkan',
      '--use-vulkan=swiftshader', '--use-angle=swiftshader'
    ],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 1280, height: 720});
    const started = Date.now();
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForFunction(
        () => window.orvPage && (window.orvPage.ready || window.orvPage.problem), {timeout: 60000});
    const firstFrame = Date.now() - started;
    const problem = await page.evaluate(() => window.orvPage.problem);
    if (problem) throw new Error(problem);
    await sleep(2000);
    const frames0 = await page.evaluate(() => window.orvPage.frames);
    await sleep(1000 * seconds);
    const frames1 = await page.evaluate(() => window.orvPage.frames);
    return {fps: (frames1 - frames0) / seconds, firstFrame};
  } finally {
    await browser.close();
    server.close();
  }
}

// orv-view's own count: the frames per second that its title shows.
async function nativeFps() {
  const view = join(root, 'build', 'release', 'orv-view');
  const display = ':87';
  const xvfb = spawn(
      'Xvfb', [display, '-screen', '0', '1600x900x24', '-nolisten', 'tcp'], {stdio: 'ignore'});
  await sleep(1500);
  const env =
      {...process.env, DISPLAY: display, VK_ICD_FILENAMES: swiftshader, NODEVICE_SELECT: '1'};
  const program = spawn(view, ['--size', '1280x720', '--no-vsync'], {env, stdio: 'ignore'});
  try {
    await sleep(1000 * (seconds + 2));
    const title = execFileSync(
        'xdotool', ['search', '--name', 'fps', 'getwindowname'], {env, encoding: 'utf8'});
    return Number(/(\d+) fps/.exec(title)[1]);
  } finally {
    program.kill();
    xvfb.kill();
  }
}

const wasm = statSync(join(site, 'orv_core.wasm')).size;
const js = statSync(join(site, 'orv_core.js')).size;
const page = await browserFps();
console.log(
    `WebAssembly core: ${(wasm / 1024).toFixed(0)} KiB (orv_core.wasm), its loader ` +
    `${(js / 1024).toFixed(0)} KiB`);
console.log(
    `page: first frame ${page.firstFrame} ms after loading began; ` +
    `${page.fps.toFixed(1)} frames/s at 1280x720 (headless Chromium, SwiftShader)`);
console.log(
    `orv-view: ${await nativeFps()} frames/s at 1280x720 (window under Xvfb, SwiftShader, ` +
    '--no-vsync; the last readout of its title)');
