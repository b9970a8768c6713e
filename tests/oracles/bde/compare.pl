#!/usr/bin/perl
# Compares our `datovrat-cli source dump --json` output with an independent reader's dump
# (xbase_dump.pl, px_dump). Usage: compare.pl OURS THEIRS CODEPAGE
# Their raw text bytes are decoded with the code page we report; fields they leave out are
# not compared. Prints every difference; exit status 1 when there is one.
use strict;
use warnings;
use JSON::PP;
use Encode ();

my ($ours_file, $theirs_file, $code_page) = @ARGV;
die "usage: compare.pl OURS THEIRS CODEPAGE\n" unless defined $code_page;
my %encoding_name = (65001 => 'utf-8', 1051 => 'hp-roman8', 10000 => 'MacRoman', 10007 => 'MacCyrillic', 10029 => 'MacCentralEurRoman');
my $encoding = Encode::find_encoding($encoding_name{$code_page} // "cp$code_page");

sub lines {
  my ($file) = @_;
  open(my $fh, '<:raw', $file) or die "cannot read $file: $!\n";
  my @records = map { JSON::PP->new->utf8->decode($_) } grep { /\S/ } <$fh>;
  return \@records;
}

sub decode_text {
  my ($bytes) = @_;
  # Bytes a code page leaves undefined read as the character of the same number, as ours do.
  return $encoding->decode($bytes, sub { chr($_[0]) }) if $encoding;
  return $bytes =~ /^[\x00-\x7F]*$/ ? $bytes : undef;  # no table for this code page: ASCII only
}

sub leading_number {
  my ($text) = @_;
  return $text =~ /^\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)/ ? $1 + 0 : undef;
}

my $ours = lines($ours_file);
my $theirs = lines($theirs_file);
my @problems;
push @problems, sprintf("we read %d records, the other reader %d", scalar @$ours, scalar @$theirs)
  if @$ours != @$theirs;
my $compared = 0;
for my $r (0 .. ($#$ours < $#$theirs ? $#$ours : $#$theirs)) {
  my ($o, $t) = ($ours->[$r], $theirs->[$r]);
  for my $hexname (sort keys %$t) {
    my $name = decode_text(pack('H*', $hexname));
    next unless defined $name;
    my $want = $t->{$hexname};
    # XBase gives field names in capitals.
    if (!exists $o->{$name}) {
      my @same = grep { lc $_ eq lc $name } keys %$o;
      $name = $same[0] if @same == 1;
    }
    if (!exists $o->{$name}) {
      push @problems, "record " . ($r + 1) . ": we have no field named '$name'";
      next;
    }
    my $got = $o->{$name};
    my $show = sub { defined $_[0] ? (ref $_[0] ? JSON::PP->new->canonical->allow_nonref->encode($_[0]) : "'$_[0]'") : 'null' };
    my $same;
    if (!defined $want) {
      $same = !defined $got;
    } elsif (JSON::PP::is_bool($want)) {
      $same = defined $got && JSON::PP::is_bool($got) && ($got ? 1 : 0) == ($want ? 1 : 0);
    } elsif (ref $want eq 'HASH' && exists $want->{t}) {
      my $text = decode_text(pack('H*', $want->{t}));
      next unless defined $text;
      $same = defined $got && !ref $got && $got eq $text;
      $want = $text;
    } elsif (ref $want eq 'HASH' && exists $want->{b}) {
      $same = defined $got && !ref $got && $got eq '0x' . $want->{b};
    } elsif (ref $want eq 'HASH' && exists $want->{n}) {
      my ($w, $g) = (leading_number($want->{n}), defined $got ? leading_number($got) : undef);
      $same = defined $w && defined $g && abs($w - $g) <= 1e-12 * (abs($w) > 1 ? abs($w) : 1);
    } elsif (!ref $want && $want =~ /^-?[\d.]+(?:[eE][-+]?\d+)?$/ && !JSON::PP::is_bool($got)) {
      # `+ 0` keeps a decoded JSON number's exact double and parses numeric text exactly.
      $same = defined $got && !ref $got && "$got" =~ /^\s*[-+]?[\d.]/ && $got + 0 == $want + 0;
    } else {
      $same = defined $got && !ref $got && $got eq $want;
    }
    ++$compared;
    push @problems, "record " . ($r + 1) . ", field '$name': we read " . $show->($got) .
      ", the other reader " . $show->($want) unless $same;
  }
}
binmode STDOUT, ':encoding(UTF-8)';
if (@problems) {
  print "$_\n" for @problems[0 .. ($#problems < 19 ? $#problems : 19)];
  print scalar(@problems) . " differences\n";
  exit 1;
}
print scalar(@$ours) . " records, $compared values agree\n";
exit 0;
