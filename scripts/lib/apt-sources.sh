# The machine's apt sources, read from both the one-line and the deb822 formats (sourced by the
# bootstrap scripts).

# apt_source_lines TYPE: one "URI SUITE SIGNED-BY" line per enabled source of TYPE (deb, deb-src).
apt_source_lines() {
    local type="$1" f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f "$f" ]] || continue
        awk -v t="$type" '$1 == t {
                 i = 2; signed = "";
                 if ($i ~ /^\[/) {
                     while (i <= NF) {
                         if ($i ~ /signed-by=/) { signed = $i; sub(/.*signed-by=/, "", signed); sub(/\].*/, "", signed) }
                         if ($i ~ /\]$/) { i++; break }
                         i++
                     }
                 }
                 print $i, $(i + 1), signed
             }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -f "$f" ]] || continue
        awk -v t="$type" 'function flush(   n, u, s, i, j) {
                 if (types ~ ("(^| )" t "( |$)") && enabled != "no") {
                     n = split(uris, u, " "); m = split(suites, s, " ");
                     for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j], signed
                 }
                 types = uris = suites = signed = ""; enabled = ""
             }
             /^[ \t]*#/ { next }
             /^[ \t]*$/ { flush(); next }
             { key = tolower($1); sub(/:$/, "", key); val = $0; sub(/^[^:]*:[ \t]*/, "", val) }
             key == "types" { types = val } key == "uris" { uris = val } key == "suites" { suites = val }
             key == "signed-by" { signed = val } key == "enabled" { enabled = tolower(val) }
             END { flush() }' "$f"
    done
}
