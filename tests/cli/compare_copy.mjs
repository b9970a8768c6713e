// Compares a copied table, read by the npm mdb-reader, with its source as `datovrat-cli source
// dump --json` printed it (one JSON object per line): the same records in the same order and
// every value equal, except in the fields named after --ignore.
//   node compare_copy.mjs SOURCE.jsonl FILE.mdb TABLE [--ignore FIELD]...
// Prints "OK <records>" or the differences (at most 10), and exits 1 on a difference.
import { readFileSync } from "fs";
import { dirname, join } from "path";
import { fileURLToPath, pathToFileURL } from "url";

const here = dirname(fileURLToPath(import.meta.url));
const entry = join(here, "..", "oracles", "node_modules", "mdb-reader", "lib", "node", "index.js");
const { default: MDBReader } = await import(pathToFileURL(entry).href);

const [sourceFile, mdbFile, tableName, ...rest] = process.argv.slice(2);
const ignored = new Set();
for (let i = 0; i < rest.length; i += 2) if (rest[i] === "--ignore") ignored.add(rest[i + 1]);

const source = readFileSync(sourceFile, "utf8").split("\n").filter((l) => l.startsWith("{"))
  .map((l) => JSON.parse(l));
const table = new MDBReader(readFileSync(mdbFile)).getTable(tableName);
const copied = table.getData();

const pad = (n, w = 2) => String(n).padStart(w, "0");
// A date as the source dump writes it: the date, the time, or both, to the second.
function dateTexts(d) {
  const date = `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())}`;
  const time = `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
  return [date, time, `${date} ${time}`, `${date}T${time}`];
}

function same(s, d) {
  if (s === null || s === undefined) return d === null || d === undefined || d === false;
  if (typeof s === "boolean") return d === s;
  if (typeof s === "number") {
    const n = typeof d === "string" ? Number(d) : d;
    if (typeof n !== "number" || Number.isNaN(n)) return false;
    return n === s || Math.abs(n - s) <= 1e-9 * Math.max(1, Math.abs(s));
  }
  if (typeof s === "string") {
    if (d instanceof Date) return dateTexts(d).some((t) => s.startsWith(t) || t.startsWith(s));
    if (d instanceof Uint8Array) return s.toLowerCase() === "0x" + Buffer.from(d).toString("hex");
    if (typeof d === "number") return Number(s) === d;
    // Currency and Decimal values come back as texts with their scale ("431.0000").
    const numeric = /^-?\d+(\.\d+)?$/;
    if (typeof d === "string" && numeric.test(s) && numeric.test(d)) return Number(s) === Number(d);
    return d === s;
  }
  return JSON.stringify(s) === JSON.stringify(d);
}

const problems = [];
if (source.length !== copied.length)
  problems.push(`${copied.length} records copied, the source has ${source.length}`);
for (let r = 0; r < Math.min(source.length, copied.length) && problems.length < 10; ++r) {
  for (const [field, value] of Object.entries(source[r])) {
    if (ignored.has(field)) continue;
    if (!(field in copied[r])) {
      problems.push(`record ${r + 1}: no field ${field}`);
      continue;
    }
    const d = copied[r][field];
    if (!same(value, d))
      problems.push(`record ${r + 1}, ${field}: source ${JSON.stringify(value)}, copy ${
        d instanceof Uint8Array ? "0x" + Buffer.from(d).toString("hex") : JSON.stringify(d)}`);
  }
}
if (problems.length) {
  console.log(problems.join("\n"));
  process.exit(1);
}
console.log(`OK ${copied.length}`);
