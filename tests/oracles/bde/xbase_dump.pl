#!/usr/bin/perl
# Dumps the live records of a dBase/FoxPro table as read by Perl's XBase module (Debian
# libdbd-xbase-perl), one JSON object per record, for compare.pl. Text and memos are given
# as the raw bytes XBase returns ({"t": hex}); fields of types XBase cannot decode are left
# out, so they are not compared.
use strict;
use warnings;
use XBase;
use JSON::PP;
use POSIX qw(floor);

my $file = shift or die "usage: xbase_dump.pl FILE [MEMOFILE]\n";
my $memo = shift;  # a database container's .dct, which XBase does not look for by itself
my $table = XBase->new(name => $file, defined $memo ? (memofile => $memo) : ())
  or die "XBase cannot open $file: " . XBase->errstr . "\n";
my @names = $table->field_names;
my @types = $table->field_types;
my $json = JSON::PP->new->canonical->allow_nonref;

sub hex_of { return unpack('H*', $_[0]); }

sub iso_from_epoch {
  my ($seconds) = @_;
  my $whole = floor($seconds);
  my $ms = int(($seconds - $whole) * 1000 + 0.5);
  if ($ms >= 1000) { $whole += 1; $ms -= 1000; }
  my @t = gmtime($whole);
  my $text = sprintf('%04d-%02d-%02dT%02d:%02d:%02d', $t[5] + 1900, $t[4] + 1, $t[3], $t[2], $t[1], $t[0]);
  $text .= sprintf('.%03d', $ms) if $ms;
  return $text;
}

for my $i (0 .. $table->last_record) {
  my ($deleted, @values) = $table->get_record($i);
  die "XBase cannot read record $i of $file: " . $table->errstr . "\n" unless defined $deleted;
  next if $deleted;
  my %out;
  for my $f (0 .. $#names) {
    my ($name, $type, $v) = ($names[$f], $types[$f], $values[$f]);
    my $key = hex_of($name);
    if ($type eq 'C' || $type eq 'M') {
      $v = '' unless defined $v;
      $v =~ s/[ \0]+$// if $type eq 'C';
      $out{$key} = length($v) ? {t => hex_of($v)} : undef;
    } elsif ($type eq 'N' || $type eq 'F' || $type eq 'I' || $type eq 'Y') {
      # As text with 17 digits: JSON::PP would print Perl's 15-digit form of the number.
      $out{$key} = defined $v && $v ne '' ? sprintf('%.17g', $v) : undef;
    } elsif ($type eq 'D') {
      $out{$key} = defined $v && $v =~ /^(\d{4})(\d\d)(\d\d)$/ ? "$1-$2-$3" : undef;
    } elsif ($type eq 'L') {
      $out{$key} = defined $v ? ($v ? JSON::PP::true : JSON::PP::false) : undef;
    } elsif ($type eq 'T') {
      # XBase turns eight zero bytes (a blank date-time) into Julian day 0.
      my $blank = defined $v && $v ne '' && $v == (0 - 2440588) * 86400;
      $out{$key} = defined $v && $v ne '' && !$blank ? iso_from_epoch($v) : undef;
    } elsif ($type eq 'G' || ($type eq 'B' && $table->{'version'} != 0x30 && $table->{'version'} != 0x31 && $table->{'version'} != 0x32)) {
      $out{$key} = defined $v && length($v) ? {b => hex_of($v)} : undef;
    } elsif ($type eq 'B') {
      $out{$key} = defined $v && $v ne '' ? sprintf('%.17g', $v) : undef;
    }
  }
  print $json->encode(\%out), "\n";
}
