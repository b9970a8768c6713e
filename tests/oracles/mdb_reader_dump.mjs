// Prints tables of an .mdb file as mdb-reader (an independent reader) sees them, in a plain
// line format the C++ tests parse without a JSON library:
//   #tables <TAB-separated user table names>
//   #table <name> <rowCount as the table definition says>
//   #columns <name:type ...>
//   one line per row: TAB-separated values, each tagged:
//     N (null)  B:true|false  F:<number>  S:<text with \\ \t \n \r escaped>  X:<hex>  D:<ms since 1970>
// Usage: node mdb_reader_dump.mjs FILE [TABLE ...]   (no TABLE: every user table)
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, ...wanted] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
const names = reader.getTableNames();
console.log("#tables\t" + names.join("\t"));

const escape = (s) =>
  s.replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");

function tag(v) {
  if (v === null || v === undefined) return "N";
  if (typeof v === "boolean") return "B:" + v;
  if (typeof v === "number") return "F:" + String(v);
  if (typeof v === "bigint") return "F:" + v.toString();
  if (typeof v === "string") return "S:" + escape(v);
  if (v instanceof Date) return "D:" + v.getTime();
  if (v instanceof Uint8Array) return "X:" + Buffer.from(v).toString("hex").toUpperCase();
  return "S:" + escape(JSON.stringify(v));
}

for (const name of wanted.length ? wanted : names) {
  const table = reader.getTable(name);
  console.log(`#table\t${name}\t${table.rowCount}`);
  const columns = table.getColumns();
  console.log("#columns\t" + columns.map((c) => `${c.name}:${c.type}`).join("\t"));
  for (const row of table.getData()) {
    console.log(columns.map((c) => tag(row[c.name])).join("\t"));
  }
}
