/* Dumps the records of a Paradox table as read by pxlib (Debian pxlib-dev), one JSON object
 * per record, for compare.pl. Field names and text are given as raw bytes ({"t": hex}),
 * binary values as {"b": hex}, BCD values as {"n": text} (compared with a tolerance),
 * dates and times as ISO text. Memo and blob fields are left out: the blob reader of the
 * pxlib in Debian 12 overruns its stack on real .mb files, so blobs are checked against
 * known values instead. A field of zero bytes is blank, as every description of the format
 * says (pxlib itself does not test it for times). Usage: px_dump TABLE */
#include <math.h>
#include <paradox.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void hex(const char *p, int n) {
  for (int i = 0; i < n; ++i) printf("%02x", (unsigned char)p[i]);
}

static void error_handler(pxdoc_t *p, int type, const char *msg, void *data) {
  (void)p; (void)type; (void)data;
  fprintf(stderr, "pxlib: %s\n", msg);
}

static void date_text(long days, char *out) {
  int y, m, d;
  PX_SdnToGregorian(days + 1721425, &y, &m, &d);
  sprintf(out, "%04d-%02d-%02d", y, m, d);
}

static void time_text(long ms, char *out) {
  sprintf(out, "%02ld:%02ld:%02ld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
  if (ms % 1000) sprintf(out + strlen(out), ".%03ld", ms % 1000);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: px_dump TABLE\n");
    return 2;
  }
  PX_boot();
  pxdoc_t *px = PX_new2(error_handler, NULL, NULL, NULL);
  if (PX_open_file(px, argv[1]) < 0) return 1;
  int nfields = PX_get_num_fields(px);
  int nrecords = PX_get_num_records(px);
  pxfield_t *fields = PX_get_fields(px);
  char *data = malloc(PX_get_recordsize(px));
  for (int r = 0; r < nrecords; ++r) {
    if (!PX_get_record(px, r, data)) return 1;
    printf("{");
    int first = 1;
    char *p = data;
    for (int f = 0; f < nfields; ++f) {
      int type = fields[f].px_ftype, len = fields[f].px_flen;
      char *field = p;
      p += len;
      char text[64];
      if (type == pxfGraphic || type == pxfMemoBLOb || type == pxfBLOb || type == pxfFmtMemoBLOb ||
          type == pxfOLE)
        continue;
      if (!first) printf(",");
      first = 0;
      printf("\"");
      hex(fields[f].px_fname, (int)strlen(fields[f].px_fname));
      printf("\":");
      long l = 0;
      short s = 0;
      double d = 0;
      char b = 0, *str = NULL;
      int ok = 0, blank = 1;
      for (int i = 0; i < len; ++i)
        if (field[i]) blank = 0;
      if (blank && type != pxfAlpha) {
        printf("null");
        continue;
      }
      switch (type) {
        case pxfAlpha:
          ok = PX_get_data_alpha(px, field, len, &str);
          if (ok > 0 && str[0]) { printf("{\"t\":\""); hex(str, (int)strlen(str)); printf("\"}"); } else printf("null");
          break;
        case pxfBytes:
          ok = PX_get_data_bytes(px, field, len, &str);
          if (ok > 0) { printf("{\"b\":\""); hex(str, len); printf("\"}"); } else printf("null");
          break;
        case pxfBCD:
          ok = PX_get_data_bcd(px, (unsigned char *)field, fields[f].px_fdc, &str);
          if (ok > 0) printf("{\"n\":\"%s\"}", str); else printf("null");
          break;
        case pxfDate:
          ok = PX_get_data_long(px, field, len, &l);
          if (ok > 0) { date_text(l, text); printf("\"%s\"", text); } else printf("null");
          break;
        case pxfTime:
          ok = PX_get_data_long(px, field, len, &l);
          if (ok > 0) { time_text(l, text); printf("\"%s\"", text); } else printf("null");
          break;
        case pxfTimestamp:
          ok = PX_get_data_double(px, field, len, &d);
          if (ok > 0) {
            long days = (long)floor(d / 86400000.0);
            date_text(days, text);
            printf("\"%sT", text);
            time_text((long)(d - (double)days * 86400000.0), text);
            printf("%s\"", text);
          } else printf("null");
          break;
        case pxfLogical:
          ok = PX_get_data_byte(px, field, len, &b);
          if (ok > 0) printf(b ? "true" : "false"); else printf("null");
          break;
        case pxfShort:
          ok = PX_get_data_short(px, field, len, &s);
          if (ok > 0) printf("%d", s); else printf("null");
          break;
        case pxfLong:
        case pxfAutoInc:
          ok = PX_get_data_long(px, field, len, &l);
          if (ok > 0) printf("%ld", l); else printf("null");
          break;
        case pxfCurrency:
        case pxfNumber:
          ok = PX_get_data_double(px, field, len, &d);
          if (ok > 0) printf("%.17g", d); else printf("null");
          break;
        default:
          printf("null");
      }
      if (str) px->free(px, str);
    }
    printf("}\n");
  }
  free(data);
  PX_close(px);
  PX_delete(px);
  PX_shutdown();
  return 0;
}
