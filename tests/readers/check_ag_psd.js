// ag-psd (default, lenient mode) opens every PSD: one layer at the origin with the Canvas
// pixels, and the merged image. Strict mode must also accept every file whose layer info
// length is even; it refuses an odd one, which is recorded. The files with a layer per region
// are read in strict mode, each layer with its name and place.
//
// usage: node check_ag_psd.js SAMPLE_FOLDER PROJECT_ROOT

'use strict';

const fs = require('fs');
const path = require('path');

const [folder, root] = process.argv.slice(2);
const agPsd = require(path.join(root, 'node_modules', 'ag-psd'));

// Without a canvas package, image data is a plain object; nothing here needs a canvas.
agPsd.initializeCanvas(
  () => { throw new Error('no canvas under node'); },
  (width, height) => ({ width, height, data: new Uint8ClampedArray(width * height * 4) }));

class Mismatch extends Error {}

function readRaw(sample, suffix) {
  return new Uint8Array(fs.readFileSync(path.join(folder, sample.name + suffix)));
}

function expectEqual(got, expected, sample, what, where = () => true) {
  if (got.length !== expected.length)
    throw new Mismatch(`${what}: ${got.length} bytes, expected ${expected.length}`);
  let count = 0;
  let first = -1;
  for (let i = 0; i < expected.length; i += 4) {
    if (!where(i)) continue;
    if (got[i] !== expected[i] || got[i + 1] !== expected[i + 1] ||
        got[i + 2] !== expected[i + 2] || got[i + 3] !== expected[i + 3]) {
      if (first < 0) first = i;
      ++count;
    }
  }
  if (count) {
    const p = first / 4;
    throw new Mismatch(`${what}: ${count} pixels differ, first at x=${p % sample.width} ` +
      `y=${Math.floor(p / sample.width)}: read ${Array.from(got.slice(first, first + 4))}, ` +
      `expected ${Array.from(expected.slice(first, first + 4))}`);
  }
}

// ag-psd takes the white back out of merged pixels whose alpha is neither 0 nor 255, with
// this arithmetic, into clamped bytes. The merged values a correct file can hold for one
// alpha a lie 255 / a > 1 apart after it, so they stay distinct: matching the result exactly
// means the stored merged bytes are exact.
function unmatted(merged) {
  const p = new Uint8ClampedArray(merged);
  for (let i = 0; i < p.length; i += 4) {
    const pa = p[i + 3];
    if (pa !== 0 && pa !== 255) {
      const ra = 1 / (pa / 255);
      const invA = 255 * (1 - ra);
      p[i] = p[i] * ra + invA;
      p[i + 1] = p[i + 1] * ra + invA;
      p[i + 2] = p[i + 2] * ra + invA;
    }
  }
  return p;
}

function checkPixels(psd, sample, layer, merged) {
  if (psd.width !== sample.width || psd.height !== sample.height || psd.channels !== 4 ||
      psd.bitsPerChannel !== 8 || psd.colorMode !== 3)
    throw new Mismatch(`document ${psd.width}x${psd.height}, ${psd.channels} channels, ` +
      `${psd.bitsPerChannel} bits, mode ${psd.colorMode}`);
  const layers = psd.children || [];
  if (layers.length !== 1) throw new Mismatch(`${layers.length} layers`);
  const l = layers[0];
  if (l.top !== 0 || l.left !== 0 || l.bottom !== sample.height || l.right !== sample.width ||
      l.opacity !== 1 || l.blendMode !== 'normal' || l.hidden)
    throw new Mismatch(`layer ${l.left},${l.top} to ${l.right},${l.bottom}, opacity ` +
      `${l.opacity}, ${l.blendMode}, hidden ${l.hidden}`);
  if (!l.imageData) throw new Mismatch('layer without pixels');
  expectEqual(l.imageData.data, layer, sample, 'layer');
  if (!psd.imageData) throw new Mismatch('no merged image');
  expectEqual(psd.imageData.data, unmatted(merged), sample, 'merged image');
}

const manifest = JSON.parse(fs.readFileSync(path.join(folder, 'manifest.json')));
let failed = 0;
let passed = 0;
let odd = 0;
for (const sample of manifest) {
  const parity = sample.layer_info_length % 2 ? 'odd' : 'even';
  const label = `${sample.name} (info ${parity}, layer ${sample.layer_blocks.join('/')}, ` +
    `merged ${sample.merged_block})`;
  const file = fs.readFileSync(path.join(folder, sample.name + '.psd'));
  const layer = readRaw(sample, '.layer.rgba');
  const merged = readRaw(sample, '.merged.rgba');
  try {
    checkPixels(agPsd.readPsd(file, { useImageData: true }), sample, layer, merged);
    let detail = '';
    try {
      checkPixels(agPsd.readPsd(file, { useImageData: true, strict: true }), sample, layer, merged);
    } catch (e) {
      if (parity === 'even' || e instanceof Mismatch) throw new Mismatch(`strict mode: ${e.message}`);
      detail = `: strict mode refuses the odd layer info length (known): ${e.message}`;
    }
    console.log(`pass ${label}${detail}`);
    ++passed;
    if (parity === 'odd') ++odd;
  } catch (e) {
    console.log(`FAIL ${label}: ${e instanceof Mismatch ? '' : 'ag-psd throws: '}${e.message}`);
    ++failed;
  }
}
// The files with a layer per region: every layer, in strict mode too (their layer info length
// is even), with its name, at its place, with its pixels.
const layeredFolder = path.join(folder, 'layered');
for (const sample of JSON.parse(fs.readFileSync(path.join(layeredFolder, 'manifest.json')))) {
  const label = `layered/${sample.name} (${sample.layers.length} layers)`;
  try {
    const file = fs.readFileSync(path.join(layeredFolder, sample.name + '.psd'));
    const psd = agPsd.readPsd(file, { useImageData: true, strict: true });
    const layers = psd.children || [];
    if (psd.width !== sample.width || psd.height !== sample.height)
      throw new Mismatch(`document ${psd.width}x${psd.height}`);
    if (layers.length !== sample.layers.length) throw new Mismatch(`${layers.length} layers`);
    sample.layers.forEach((expected, i) => {
      const l = layers[i];
      if (l.name !== expected.name || l.left !== expected.left || l.top !== expected.top ||
          l.right !== expected.left + expected.width || l.bottom !== expected.top + expected.height)
        throw new Mismatch(`layer ${i}: ${l.name} at ${l.left},${l.top} to ${l.right},${l.bottom}`);
      const pixels = new Uint8Array(fs.readFileSync(path.join(layeredFolder, `${sample.name}.${i}.rgba`)));
      expectEqual(l.imageData.data, pixels, { width: expected.width }, expected.name);
    });
    const merged = new Uint8Array(fs.readFileSync(path.join(layeredFolder, sample.name + '.merged.rgba')));
    expectEqual(psd.imageData.data, unmatted(merged), sample, 'merged image');
    console.log(`pass ${label}`);
    ++passed;
  } catch (e) {
    console.log(`FAIL ${label}: ${e instanceof Mismatch ? '' : 'ag-psd throws: '}${e.message}`);
    ++failed;
  }
}

console.log(`ag-psd: ${passed} files passed (${odd} with an odd layer info length), ` +
  `${failed} failed`);
if (!passed || !odd) console.log('FAIL: no file, or no file with an odd layer info length, read');
process.exit(failed || !passed || !odd ? 1 : 0);
