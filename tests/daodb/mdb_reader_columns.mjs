// Prints the columns of one table as the npm mdb-reader sees them: "name type size" per line.
//   node mdb_reader_columns.mjs FILE TABLE
import { readFileSync } from "fs";
import { dirname, join } from "path";
import { fileURLToPath, pathToFileURL } from "url";

const here = dirname(fileURLToPath(import.meta.url));
const entry = join(here, "..", "oracles", "node_modules", "mdb-reader", "lib", "node", "index.js");
const { default: MDBReader } = await import(pathToFileURL(entry).href);

const [file, table] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
for (const c of reader.getTable(table).getColumns()) console.log(`${c.name} ${c.type} ${c.size}`);
