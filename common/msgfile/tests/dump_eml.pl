#!/usr/bin/perl
# Prints what an .eml file (as msgconvert writes it) holds as one JSON object:
# decoded subject, To and Cc headers, the text body, and each attachment,
# whose bytes go to <outDir>/eml-attachment-<n>.bin.
#
#   perl dump_eml.pl <file.eml> <outDir>
use strict;
use warnings;
use Email::MIME;
use Encode qw(decode);
use JSON::PP;

my ($eml_path, $out_dir) = @ARGV;
open(my $in, '<:raw', $eml_path) or die "cannot read $eml_path: $!";
my $raw = do { local $/; <$in> };
close($in);

my $email = Email::MIME->new($raw);
my @bodies;
my @attachments;
my $index = 0;
$email->walk_parts(sub {
  my ($part) = @_;
  return if $part->subparts;
  my $filename = $part->filename;
  my $disposition = $part->header('Content-Disposition') // '';
  if (defined $filename || $disposition =~ /^attachment/i) {
    my $file = "$out_dir/eml-attachment-$index.bin";
    $index++;
    open(my $out, '>:raw', $file) or die "cannot write $file: $!";
    print $out $part->body;
    close($out);
    push @attachments, { fileName => $filename, file => $file, size => length($part->body) };
  } elsif (($part->content_type // 'text/plain') =~ m{^text/plain}i) {
    push @bodies, $part->body_str;
  }
});

# msgconvert writes non-ASCII header text as raw UTF-8 rather than as MIME
# encoded words; take either form.
sub header_text {
  my ($name) = @_;
  my $raw = $email->header_raw($name);
  return undef unless defined $raw;
  return $raw =~ /[^\x00-\x7F]/ ? decode('UTF-8', $raw) : scalar $email->header_str($name);
}

my $json = JSON::PP->new->utf8->canonical;
print $json->encode({
  subject => header_text('Subject'),
  to => header_text('To'),
  cc => header_text('Cc'),
  body => join('', @bodies),
  attachments => \@attachments,
});
