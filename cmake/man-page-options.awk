# Rewrites the option tags of a help2man page made from a CLI11 program's --help, so
# that the page shows each option whole in bold with its argument in italics:
#   \fB\-\-web\fR.listen\-address ADDRESS=127.0.0.1:9730
#       -> \fB\-\-web.listen\-address\fR \fIADDRESS\fR (default: 127.0.0.1:9730)
#   \fB\-\-probe\fR.max\-in\-flight N:UINT in [1 \- 1024]=64
#       -> \fB\-\-probe.max\-in\-flight\fR \fIN\fR (1 to 1024, default: 64)
#   \fB\-h\fR,\-\-help -> \fB\-h\fR, \fB\-\-help\fR
# help2man takes a dot for the end of an option's name, and CLI11 writes the type, the
# range and the default beside the argument. Only the tags (the line after .TP) of the
# OPTIONS section change; elsewhere only the endpoints, which help2man takes for file
# names and sets in italics, go back to plain text.
/^\.SH / { in_options = ($0 == ".SH OPTIONS") }
in_options && after_tp && !/^\./ { $0 = option_tag($0) }
{ $0 = plain_endpoints($0) }
{ after_tp = ($0 == ".TP"); print }

function option_tag(line,    plain, names, rest, n, i, out, argument, note, m) {
    plain = line
    gsub(/\\f[BIRP]|\\[,\/]/, "", plain)
    names = plain
    sub(/ .*/, "", names)
    rest = substr(plain, length(names) + 2)
    n = split(names, name, ",")
    out = ""
    for (i = 1; i <= n; i++) {
        out = out (i > 1 ? ", " : "") "\\fB" name[i] "\\fR"
    }
    if (rest == "") {
        return out
    }
    # ARGUMENT[:TYPE][ in [LOW \- HIGH]][=DEFAULT]
    argument = rest
    sub(/[:= ].*/, "", argument)
    note = ""
    if (match(rest, /in \[[^]]*\]/)) {
        m = substr(rest, RSTART + 4, RLENGTH - 5)
        sub(/ \\- /, " to ", m)
        note = m
    }
    if (match(rest, /=[^ ]+$/)) {
        note = note (note == "" ? "" : ", ") "default: " substr(rest, RSTART + 1)
    }
    return out " \\fI" argument "\\fR" (note == "" ? "" : " (" note ")")
}

function plain_endpoints(line,    head, path) {
    while (match(line, /\\fI\\,\/[a-z]+\\\/\\fP/)) {
        head = substr(line, 1, RSTART - 1)
        path = substr(line, RSTART + 5, RLENGTH - 10)
        line = head path substr(line, RSTART + RLENGTH)
    }
    return line
}
