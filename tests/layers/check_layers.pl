#!/usr/bin/perl
# Usage: check_layers.pl SOURCE_DIR
#        check_layers.pl --self-test WORK_DIR
# Holds the source tree to the dependency table in README.md's "Layout"
# section (columns Folder | May use | Holds; folders and the folders they may
# use written as `name/`). Fails, naming each, when
#   - the table names a folder that does not exist, or a use no row defines;
#   - the uses run in a circle;
#   - a folder holding C or C++ sources is not under any row;
#   - a file includes (#include "...") a file of another row that its row
#     cannot reach through the table's uses, directly or through the rows
#     those use: what a target sees through the targets it links.
# A file belongs to the row whose folder is the longest prefix of its path, so
# a component's tests/ folder belongs to the component unless it has its own
# row. An include is looked up beside the including file, then from the top
# of the tree, then as the end of exactly one file's path; one that names no
# file of the tree (system, generated) is not checked.
# --self-test runs the check over small trees it writes in WORK_DIR: a clean
# one passes, an include running back up and a circle of uses fail.
use strict;
use warnings;
use File::Path qw(make_path remove_tree);

my $source_ext = qr/\.(?:h|hh|hpp|c|cc|cpp|cxx|inc)$/;

sub walk {
  my ($root, $dir, $files) = @_;
  my $full = $dir eq '' ? $root : "$root/$dir";
  return if -e "$full/CMakeCache.txt";    # a build tree inside the sources
  opendir(my $dh, $full) or die "check_layers: cannot read $full: $!\n";
  for my $name (sort grep { !/^\./ } readdir $dh) {
    my $path = $dir eq '' ? $name : "$dir/$name";
    if (-d "$root/$path" && !-l "$root/$path") { walk($root, $path, $files) }
    elsif ($name =~ $source_ext) { push @$files, $path }
  }
  closedir $dh;
}

# The rows of the Layout section's table: folder => [folders it may use].
sub read_table {
  my ($readme) = @_;
  open(my $fh, '<', $readme) or die "check_layers: cannot read $readme: $!\n";
  my ($in_section, $in_table, %uses, @order) = (0, 0);
  while (my $line = <$fh>) {
    if ($line =~ /^## /) { $in_section = $line =~ /^## Layout\s*$/; next }
    last if $in_table && $line !~ /^\|/;
    next unless $in_section && $line =~ /^\|/;
    my @cells = map { s/^\s+|\s+$//gr } split /\|/, $line;
    shift @cells;
    if (!$in_table) { $in_table = lc "@cells[0, 1]" eq 'folder may use'; next }
    next if $cells[0] =~ /^:?-+/;
    my ($folder) = $cells[0] =~ /^`([^`]+?)\/?`$/ or die "check_layers: row without a folder: $line";
    die "check_layers: row $folder/ twice\n" if $uses{$folder};
    push @order, $folder;
    $uses{$folder} = [map { s{/$}{}r } $cells[1] =~ /`([^`]+)`/g];
  }
  die "check_layers: no Folder | May use | Holds table under \"## Layout\" in $readme\n" unless @order;
  return (\%uses, \@order);
}

sub check {
  my ($root) = @_;
  my ($uses, $order) = read_table("$root/README.md");
  my @faults;
  for my $folder (@$order) {
    push @faults, "README.md: row $folder/: no such folder" unless -d "$root/$folder";
    for my $used (@{ $uses->{$folder} }) {
      push @faults, "README.md: row $folder/ uses $used/, which has no row" unless $uses->{$used};
    }
  }
  # Circles, by depth-first search; each one reported once.
  my %state;
  my $visit;
  $visit = sub {
    my ($folder, @path) = @_;
    $state{$folder} = 1;
    for my $used (grep { $uses->{$_} } @{ $uses->{$folder} }) {
      if (($state{$used} // 0) == 1) {
        my @circle = (@path, $folder);
        shift @circle while $circle[0] ne $used;
        push @faults, 'README.md: uses run in a circle: ' . join(' -> ', map {"$_/"} @circle, $used);
      } elsif (!$state{$used}) {
        $visit->($used, @path, $folder);
      }
    }
    $state{$folder} = 2;
  };
  $state{$_} or $visit->($_) for @$order;

  my %reach;    # folder => {folder it may include from => 1}
  for my $folder (@$order) {
    my @todo = ($folder);
    while (defined(my $f = shift @todo)) {
      next if $reach{$folder}{$f}++;
      push @todo, grep { $uses->{$_} } @{ $uses->{$f} };
    }
  }
  my @by_length = sort { length $b <=> length $a } @$order;
  my $owner = sub {
    my ($path) = @_;
    for (@by_length) { return $_ if index($path, "$_/") == 0 }
    return undef;
  };

  my @files;
  walk($root, '', \@files);
  my (%is_file, %by_name, %unlisted);
  for my $file (@files) {
    $is_file{$file} = 1;
    push @{ $by_name{ $file =~ s{.*/}{}r } }, $file;
  }
  for my $file (@files) {
    my $from = $owner->($file);
    if (!defined $from) {
      my $dir = $file =~ m{^(.*)/} ? $1 : '.';
      push @faults, "$dir/: holds sources and has no row in README.md's table" unless $unlisted{$dir}++;
      next;
    }
    open(my $fh, '<', "$root/$file") or die "check_layers: cannot read $file: $!\n";
    while (my $line = <$fh>) {
      next unless $line =~ /^\s*#\s*include\s*"([^"]+)"/;
      my $name = $1;
      my $beside = ($file =~ m{^(.*)/} ? "$1/" : '') . $name;
      1 while $beside =~ s{(^|/)(?!\.\./)[^/]+/\.\./}{$1};
      my $target;
      if ($is_file{$beside}) { $target = $beside }
      elsif ($is_file{$name}) { $target = $name }
      else {
        my @ends = grep { substr("/$_", -length("/$name")) eq "/$name" }
          @{ $by_name{ $name =~ s{.*/}{}r } // [] };
        $target = $ends[0] if @ends == 1;
      }
      next unless defined $target;
      my $to = $owner->($target);
      next if !defined $to || $reach{$from}{$to};
      push @faults, "$file:$.: $from/ may not use $to/ (#include \"$name\" is $target)";
    }
    close $fh;
  }
  print "$_\n" for @faults;
  print @faults ? scalar(@faults) . " against the layers\n"
                : scalar(@files) . " files of " . scalar(@$order) . " rows: the layers hold\n";
  return @faults ? 1 : 0;
}

# Writes a small tree and runs the check over it in a child; returns its exit
# status and output.
sub run_on {
  my ($dir, $table, %files) = @_;
  remove_tree($dir);
  make_path($dir);
  $files{'README.md'} = "## Layout\n\n| Folder | May use | Holds |\n|---|---|---|\n$table\n## Next\n";
  for my $path (sort keys %files) {
    make_path("$dir/$1") if $path =~ m{^(.*)/};
    open(my $fh, '>', "$dir/$path") or die "$dir/$path: $!";
    print $fh $files{$path};
    close $fh;
  }
  my $out = qx{"$^X" "$0" "$dir" 2>&1};
  return ($? >> 8, $out);
}

sub self_test {
  my ($top) = @_;
  my %tree = (
    'app/main.cc' => "#include \"lib/api.h\"\n#include \"local.h\"\n",
    'app/local.h' => "#include \"base.h\"\n",
    'lib/api.h' => "#include <vector>\n#include \"core/base.h\"\n",
    'lib/core/base.h' => "#pragma once\n",
    'lib/tests/api_test.cc' => "#include \"lib/api.h\"\n",
  );
  my $rows = "| `app/` | `lib/` | the program |\n| `lib/` | `lib/core/` | |\n| `lib/core/` | — | |\n";
  my @cases = (
    ['a clean tree', $rows, {}, 0, qr/the layers hold/],
    ['an include back up', $rows, { 'lib/core/base.h' => "\n#include \"lib/api.h\"\n" }, 1,
     qr{^lib/core/base\.h:2: lib/core/ may not use lib/ \(#include "lib/api\.h" is lib/api\.h\)$}m],
    ['a circle', $rows =~ s/\| — \|/| `app\/` |/r, {}, 1,
     qr{^README\.md: uses run in a circle: app/ -> lib/ -> lib/core/ -> app/$}m],
    ['a missing folder and a folder without a row', "$rows| `gone/` | — | |\n",
     { 'extra/x.c' => "" }, 1, qr{row gone/: no such folder\n(?s:.*)^extra/: holds sources}m],
  );
  my $failed = 0;
  for my $case (@cases) {
    my ($what, $table, $changes, $want_status, $want_output) = @$case;
    my ($status, $out) = run_on("$top/tree", $table, %tree, %$changes);
    my $ok = $status == $want_status && $out =~ $want_output;
    print(($ok ? 'ok' : 'FAILED'), ": $what\n", $ok ? '' : $out);
    $failed ||= !$ok;
  }
  remove_tree("$top/tree") unless $failed;
  return $failed ? 1 : 0;
}

if (@ARGV == 2 && $ARGV[0] eq '--self-test') { exit self_test($ARGV[1]) }
die "Usage: check_layers.pl SOURCE_DIR | --self-test WORK_DIR\n" unless @ARGV == 1;
exit check($ARGV[0]);
