# Doxygen input filter for orvix32.h: presents the header's plain layout as
# documentation without changing the header itself.
#  - the opening comment becomes the file's description;
#  - each "===== Title =====" line opens a named member group, and the plain
#    comment right below it (the family's common rules) becomes the group's
#    description;
#  - runs of indented lines in a comment (argument lists, code tables) are
#    kept as laid out (verbatim);
#  - a declaration that shares the comment above another one gets a copy of
#    that comment.
function flush_verbatim() {
  if (verbatim) { print "@endverbatim"; verbatim = 0 }
}
function comment_line(line,    closing) {
  closing = index(line, "*/") > 0
  if (line ~ /^ \*  +[^ ]/) {
    if (!verbatim) { print " * @verbatim"; verbatim = 1 }
    sub(/^ \*/, "", line)  # verbatim keeps a leading star
    if (closing) {
      sub(/ *\*\/.*$/, "", line)
      print line
      flush_verbatim()
      print " */"
      return
    }
    print line
    return
  }
  flush_verbatim()
  gsub(/</, "\\<", line)  # ORVIX32_COM<i+1> is text, not a tag
  print line
}
NR == 1 && $0 == "/*" { print "/** @file"; in_comment = 1; next }
/^\/\* =+ .* =+ \*\/$/ {
  title = $0
  sub(/^\/\* =+ /, "", title)
  sub(/ =+ \*\/$/, "", title)
  if (group_open) print "/** @} */"
  print "/** @name " title
  section_pending = 1
  group_open = 1
  next
}
section_pending && /^\/\* / {
  # The family's rules: the group's description.
  sub(/^\/\* /, " * ")
  section_pending = 0
  in_group_intro = 1
}
section_pending {
  print " */"
  print "/** @{ */"
  section_pending = 0
}
/^#ifdef __cplusplus/ && group_open && seen_decl { print "/** @} */"; group_open = 0 }
{
  line = $0
  if (!in_comment && line ~ /^\/\*/ && index(line, "*/") == 0) { in_comment = 1; print line; next }
  if (in_comment || in_group_intro) {
    if (index(line, "*/") > 0) {
      in_comment = 0
      if (in_group_intro) {
        in_group_intro = 0
        comment_line(line)
        print "/** @{ */"
        next
      }
    } else if (in_group_intro) {
      in_comment = 1
    }
    comment_line(line)
    next
  }
  if (line ~ /^ORVIX32_API/) {
    seen_decl = 1
    name = line
    sub(/\(.*$/, "", name)
    sub(/^.* /, "", name)
    if (last_decl_end == NR - 1 && first_name != "") print "/** @copydoc " first_name " */"
    else first_name = name
  }
  if (line ~ /^ORVIX32_API/ || in_decl) {
    in_decl = line !~ /;[ \t]*$/
    if (!in_decl) last_decl_end = NR
  }
  print line
}
