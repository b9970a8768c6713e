/* Writes the synthetic Paradox fixtures of tests/data/bde/synthetic with pxlib (Debian
 * pxlib-dev), an independent writer. Run from that directory:
 *   cc -o /tmp/make_px ../../../oracles/bde/make_px_fixtures.c $(pkg-config --cflags --libs pxlib)
 *   /tmp/make_px
 * czech852.db and czech1250.db: Alpha text recoded by pxlib from UTF-8, memos stored as the
 * bytes given (in the table's code page): one in the record's leader, one in a suballocated
 * block, one of 5,000 bytes in a block of its own. kamenicky.db: code page 867 set alone,
 * Alpha bytes written as given. */
#include <paradox.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *pangram = "P\xc5\x99\xc3\xadli\xc5\xa1 \xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd k\xc5\xaf\xc5\x88 \xc3\xbap\xc4\x9bl \xc4\x8f\xc3\xa1" "belsk\xc3\xa9 \xc3\xb3" "dy";
/* "úpěl ďábelské ódy" in cp852 and cp1250 */
static const char *memo852 = "\xa3p\xd8l \xd4\xa0" "belsk\x82 \xa2" "dy";
static const char *memo1250 = "\xfap\xecl \xef\xe1" "belsk\xe9 \xf3" "dy";
/* "Příliš žluťoučký kůň" in Kamenický */
static const char *name867 = "P\xa9\xa1li\xa8 \x91lu\x9fou\x87k\x98 k\x96\xa4";

static void make(const char *name, const char *blob, const char *encoding, int codepage,
                 const char *alpha, const char *memo) {
  pxfield_t *f = malloc(3 * sizeof *f); /* pxlib frees this array */
  f[0] = (pxfield_t){strdup("ID"), pxfLong, 4, 0};
  f[1] = (pxfield_t){strdup("JMENO"), pxfAlpha, 60, 0};
  f[2] = (pxfield_t){strdup("POZN"), pxfMemoBLOb, 30, 0};
  pxdoc_t *px = PX_new();
  remove(name);
  remove(blob);
  if (PX_create_file(px, f, 3, name, pxfFileTypNonIndexDB) < 0) exit(1);
  if (encoding) {
    PX_set_parameter(px, "targetencoding", encoding);
    PX_set_parameter(px, "inputencoding", "UTF-8");
  } else {
    PX_set_value(px, "codepage", codepage);
  }
  PX_set_blob_file(px, blob);
  char *big = malloc(5001);
  for (int i = 0; i < 5000; ++i) big[i] = (char)('a' + i % 26);
  big[5000] = 0;
  for (int r = 0; r < 4; ++r) {
    pxval_t id = {0, pxfLong, {0}}, nm = {0, pxfAlpha, {0}}, me = {0, pxfMemoBLOb, {0}};
    id.value.lval = r + 1;
    nm.value.str.val = (char *)alpha;
    nm.value.str.len = (int)strlen(alpha);
    const char *m = r == 0 ? "kratke" : r == 1 ? memo : r == 2 ? big : NULL;
    if (r == 1) {  /* a memo longer than the 20-byte leader: into a suballocated block */
      static char longer[200];
      snprintf(longer, sizeof longer, "%s / %s / %s", memo, memo, memo);
      m = longer;
    }
    if (m) {
      me.value.str.val = (char *)m;
      me.value.str.len = (int)strlen(m);
    } else {
      me.isnull = 1;
    }
    pxval_t *rec[3] = {&id, &nm, &me};
    if (PX_insert_record(px, rec) < 0) exit(1);
  }
  PX_close(px);
  PX_delete(px);
  free(big);
}

int main(void) {
  PX_boot();
  make("czech852.db", "czech852.mb", "CP852", 0, pangram, memo852);
  make("czech1250.db", "czech1250.mb", "CP1250", 0, pangram, memo1250);
  make("kamenicky.db", "kamenicky.mb", NULL, 867, name867, "bez diakritiky");
  PX_shutdown();
  return 0;
}
