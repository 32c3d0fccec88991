#!/usr/bin/perl
# Perl's Net::LDAP::LDIF as a peer of the interoperability test.
#   netldap.pl write WRAP FILE   writes one entry for each line of standard
#                                input ("dn<TAB>attribute<TAB>base64 of the
#                                value") to FILE, lines folded at WRAP
#                                (0: never), values as Net::LDAP encodes them
#   netldap.pl read FILE         prints each entry of FILE: "record", its dn
#                                and each value as "name<TAB>base64 of the
#                                value" (the same listing as the helper's)
# Exit status 77 when Net::LDAP is not installed.
use strict;
use warnings;
use MIME::Base64 qw(encode_base64 decode_base64);

BEGIN {
    eval { require Net::LDAP::LDIF; require Net::LDAP::Entry; 1 } or exit 77;
}

my ($mode, @args) = @ARGV;
if (defined $mode && $mode eq 'write' && @args == 2) {
    my ($wrap, $path) = @args;
    my $ldif = Net::LDAP::LDIF->new($path, 'w', wrap => $wrap, onerror => 'die')
        or die "cannot open $path\n";
    while (my $line = <STDIN>) {
        chomp $line;
        my ($dn, $attr, $value) = split /\t/, $line, -1;
        my $entry = Net::LDAP::Entry->new;
        $entry->dn($dn);
        $entry->add($attr => decode_base64($value));
        $ldif->write_entry($entry);
    }
    $ldif->done;
    exit 0;
}
if (defined $mode && $mode eq 'read' && @args == 1) {
    my $ldif = Net::LDAP::LDIF->new($args[0], 'r', onerror => 'die') or die "cannot open $args[0]\n";
    binmode STDOUT;
    while (my $entry = $ldif->read_entry) {
        print "record\n";
        print "dn\t", encode_base64($entry->dn, ''), "\n";
        for my $attr ($entry->attributes) {
            print "$attr\t", encode_base64($_, ''), "\n" for $entry->get_value($attr);
        }
    }
    exit 0;
}
die "usage: $0 write WRAP FILE | read FILE\n";
