#!/usr/bin/perl
# Writes the synthetic dBase/FoxPro fixtures of tests/data/bde/synthetic with Perl's XBase
# module (Debian libdbd-xbase-perl), an independent writer. Run from that directory:
#   perl ../../../oracles/bde/make_dbf_fixtures.pl
# Text is encoded here byte for byte (XBase only stores the language-driver byte).
use strict;
use warnings;
use utf8;
use XBase;
use Encode qw(encode);

my $pangram = "Příliš žluťoučký kůň úpěl ďábelské ódy";
my $upper = "PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY";

# Kamenický is in neither Encode nor iconv: its table for the letters used here.
my %kamenicky = (
  'Č' => 0x80, 'ü' => 0x81, 'é' => 0x82, 'ď' => 0x83, 'ä' => 0x84, 'Ď' => 0x85, 'Ť' => 0x86,
  'č' => 0x87, 'ě' => 0x88, 'Ě' => 0x89, 'Ĺ' => 0x8A, 'Í' => 0x8B, 'ľ' => 0x8C, 'ĺ' => 0x8D,
  'Ä' => 0x8E, 'Á' => 0x8F, 'É' => 0x90, 'ž' => 0x91, 'Ž' => 0x92, 'ô' => 0x93, 'ö' => 0x94,
  'Ó' => 0x95, 'ů' => 0x96, 'Ú' => 0x97, 'ý' => 0x98, 'Ö' => 0x99, 'Ü' => 0x9A, 'Š' => 0x9B,
  'Ľ' => 0x9C, 'Ý' => 0x9D, 'Ř' => 0x9E, 'ť' => 0x9F, 'á' => 0xA0, 'í' => 0xA1, 'ó' => 0xA2,
  'ú' => 0xA3, 'ň' => 0xA4, 'Ň' => 0xA5, 'Ů' => 0xA6, 'Ô' => 0xA7, 'š' => 0xA8, 'ř' => 0xA9,
  'ŕ' => 0xAA, 'Ŕ' => 0xAB);
sub kamenicky {
  my ($text) = @_;
  return join '', map { ord($_) < 0x80 ? $_ : chr($kamenicky{$_} // die "no Kamenický byte for $_") } split //, $text;
}

sub create {
  my (%args) = @_;
  unlink $args{name}, map { my $m = $args{name}; $m =~ s/\.dbf$/$_/; $m } '.dbt', '.fpt';
  return XBase->create(%args) || die XBase->errstr;
}

# Czech text in each of the three code pages Czech data come in, with memos and a deleted record.
for my $case (["czech852.dbf", 0xF5, 0x64, sub { encode('cp852', $_[0]) }],
              ["czech1250.dbf", 0x83, 0xC8, sub { encode('cp1250', $_[0]) }],
              ["kamenicky_fox.dbf", 0xF5, 0x68, \&kamenicky],
              ["kamenicky_dbase.dbf", 0x8B, 0x20, \&kamenicky]) {
  my ($name, $version, $ldid, $enc) = @$case;
  my $t = create(name => $name, version => $version, codepage => $ldid,
    field_names => ['ID', 'JMENO', 'POZN'], field_types => ['N', 'C', 'M'],
    field_lengths => [6, 40, 10], field_decimals => [0, 0, 0]);
  $t->set_record(0, 1, $enc->($pangram), $enc->("$upper\r\n$pangram"));
  $t->set_record(1, 2, 'smazano', undef);
  $t->set_record(2, 3, $enc->($upper), undef);
  $t->delete_record(1);
  $t->close;
}

# Every dBase IV type with the width rules, blanks, a deleted record and memos crossing blocks.
{
  my $t = create(name => 'types4.dbf', version => 0x8B, codepage => 0x03,
    field_names => ['S4', 'I5', 'I9', 'F10', 'D2', 'FL', 'DAT', 'LOG', 'TXT', 'MEMO'],
    field_types => ['N', 'N', 'N', 'N', 'N', 'F', 'D', 'L', 'C', 'M'],
    field_lengths => [4, 5, 9, 10, 8, 12, 8, 1, 20, 10],
    field_decimals => [0, 0, 0, 0, 2, 3, 0, 0, 0, 0]);
  my $long = join('', map { sprintf("line %04d of a long memo\r\n", $_) } 1 .. 200);  # 5,200 bytes
  $t->set_record(0, -999, 99999, 999999999, 9999999999, -12345.67, -0.125, '20240229', 'T', 'first', $long);
  $t->set_record(1, 0, -9999, -99999999, -999999999, 0.01, 1e6, '18991230', 'F', 'deleted', 'gone');
  $t->set_record(2, undef, undef, undef, undef, undef, undef, undef, undef, undef, undef);
  $t->set_record(3, 12, 345, 678, 9, 1.5, 2.25, '18000101', 'T', ' lead', 'short');
  $t->delete_record(1);
  $t->close;
}

# dBase III memo file with one memo spanning several 512-byte blocks.
{
  my $t = create(name => 'memo3.dbf', version => 0x83,
    field_names => ['N', 'M'], field_types => ['N', 'M'], field_lengths => [3, 10], field_decimals => [0, 0]);
  $t->set_record(0, 1, 'x' x 1500 . 'END');
  $t->set_record(1, 2, "two\r\nlines");
  $t->close;
}

# A table with fields and no records.
{
  my $t = create(name => 'empty.dbf', field_names => ['A', 'B'], field_types => ['C', 'N'],
    field_lengths => [5, 3], field_decimals => [0, 0]);
  $t->close;
}

# Tables that name no code page (language driver 0) and keep their text in a long C field,
# whose length's high byte XBase writes in the decimals byte (300 = 44 + 256 × 1), as Clipper
# does. The reader has to find both the field's length and the code page by itself.
{
  my @czech = ($pangram, $upper, "Jiří Dvořák, České Budějovice", "Účetní doklad č. 15 – Žďár nad Sázavou");
  my @russian = ("Съешь же ещё этих мягких французских булок, да выпей чаю", "Иванов Пётр Сергеевич",
                 "Накладная № 15, склад готовой продукции, Москва");
  for my $case (["unmarked852.dbf", 'cp852', \@czech], ["unmarked1251.dbf", 'cp1251', \@russian],
                ["unmarkedutf8.dbf", 'UTF-8', \@czech]) {
    my ($name, $cp, $texts) = @$case;
    my $t = create(name => $name, version => 0x03, codepage => 0,
      field_names => ['ID', 'TEXT', 'TAIL'], field_types => ['N', 'C', 'C'],
      field_lengths => [3, 300, 4], field_decimals => [0, undef, undef]);
    my $i = 0;
    for my $text (@$texts) {
      $t->set_record($i, $i + 1, encode($cp, $text x 4), 'end');
      ++$i;
    }
    $t->close;
  }
}
