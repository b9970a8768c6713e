// Reads a database with the npm mdb-reader (kept under tests/oracles) for the DAO tests.
//   node read_with_mdb_reader.mjs tables FILE        user table names, one per line
//   node read_with_mdb_reader.mjs rows FILE TABLE    one JSON array per row, values in column order
// Dates print as ISO text, binary values as 0x-prefixed hex, Null as null.
import { readFileSync } from "fs";
import { dirname, join } from "path";
import { fileURLToPath, pathToFileURL } from "url";

const here = dirname(fileURLToPath(import.meta.url));
const entry = join(here, "..", "oracles", "node_modules", "mdb-reader", "lib", "node", "index.js");
const { default: MDBReader } = await import(pathToFileURL(entry).href);

const [command, file, table] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
if (command === "tables") {
  for (const name of reader.getTableNames()) console.log(name);
} else if (command === "rows") {
  const t = reader.getTable(table);
  const names = t.getColumnNames();
  for (const row of t.getData()) {
    const out = names.map((n) => {
      const v = row[n];
      if (v === null || v === undefined) return null;
      if (v instanceof Date) return v.toISOString();
      if (Buffer.isBuffer(v)) return "0x" + v.toString("hex");
      if (typeof v === "bigint") return v.toString();
      return v;
    });
    console.log(JSON.stringify(out));
  }
} else {
  console.error("usage: tables FILE | rows FILE TABLE");
  process.exit(2);
}
