#!/usr/bin/env bash
# check_layers.sh BUILD_DIR [FOLDER...]
# Checks that the object files of the product folders (default: app aacs console digest io udf) use each other
# without a cycle. An object uses another when it leaves a symbol undefined that the other defines, as nm -C
# reports them; every group of objects that reach each other is printed with the symbols that tie it, and the
# script exits 1. A build made by a GNU-style compiler (Release, sanitizer or fuzz) is what it reads.
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: check_layers.sh BUILD_DIR [FOLDER...]" >&2
    exit 2
fi
build=$1
shift
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(app aacs console digest io udf)
nm=${NM:-nm}

# The source an object was compiled from: the first prerequisite in its dependency file, if it has one.
source_of() {
    awk '{
        for (i = 1; i <= NF; ++i)
            if (seen && $i != "\\") { print $i; exit } else if ($i ~ /:$/) seen = 1
    }' "$1.d" 2>/dev/null || true
}

objects=()
for folder in "${folders[@]}"; do
    if [ ! -d "$build/$folder/CMakeFiles" ]; then
        echo "check_layers: no objects of $folder/ in $build" >&2
        exit 2
    fi
    while IFS= read -r object; do
        # An object whose source has gone since it was built is no longer part of the product.
        source=$(source_of "$object")
        [ -z "$source" ] || [ -e "$source" ] || continue
        objects+=("$object")
    done < <(find "$build/$folder/CMakeFiles" -name '*.o' | sort)
done
[ ${#objects[@]} -gt 0 ] || { echo "check_layers: no object files in $build" >&2; exit 2; }

# One line per symbol: "D object symbol" for a global definition, "U object symbol" for a use. The object is
# named by its folder and source file; demangled names may hold spaces, so the symbol is the rest of the line.
listing() {
    local object name
    for object in "${objects[@]}"; do
        name=${object#"$build"/}
        name=${name%%/CMakeFiles/*}/$(basename "${object%.o}")
        "$nm" -C --defined-only "$object" | awk -v o="$name" '
            NF >= 3 && $2 ~ /^[A-TV-Zuvw]$/ { sub(/^[^ ]+ [^ ]+ /, ""); print "D\t" o "\t" $0 }'
        "$nm" -C --undefined-only "$object" | awk -v o="$name" '
            $1 == "U" || $1 == "w" { sub(/^ *[Uw] /, ""); print "U\t" o "\t" $0 }'
    done
}

listing | awk -F '\t' '
    $1 == "D" { definers[$3] = definers[$3] SUBSEP $2; nodes[$2] = 1; next }
    $1 == "U" { uses[++useCount] = $2 SUBSEP $3; nodes[$2] = 1 }
    END {
        # The uses graph: an edge from each object to every other one that defines what it leaves undefined.
        for (i = 1; i <= useCount; ++i) {
            split(uses[i], pair, SUBSEP)
            n = split(definers[pair[2]], who, SUBSEP)
            for (j = 2; j <= n; ++j) {
                if (who[j] == pair[1]) continue
                key = pair[1] SUBSEP who[j]
                if (!(key in edge)) {
                    edge[key] = pair[2]
                    out[pair[1]] = out[pair[1]] SUBSEP who[j]
                }
            }
        }
        # Tarjan: every strongly connected group of more than one object is a cycle.
        for (v in nodes) if (!(v in index_)) connect(v)
        if (cycles == 0) {
            count = 0
            for (v in nodes) ++count
            printf "check_layers: no cycle among %d object files\n", count
            exit 0
        }
        exit 1
    }
    function connect(v,    n, k, w, members, m, i) {
        index_[v] = low[v] = ++counter
        stack[++top] = v
        onStack[v] = 1
        n = split(out[v], k, SUBSEP)
        for (i = 2; i <= n; ++i) {
            w = k[i]
            if (!(w in index_)) {
                connect(w)
                if (low[w] < low[v]) low[v] = low[w]
            } else if (onStack[w] && index_[w] < low[v]) {
                low[v] = index_[w]
            }
        }
        if (low[v] != index_[v]) return
        m = 0
        do {
            w = stack[top--]
            onStack[w] = 0
            members[++m] = w
        } while (w != v)
        if (m > 1) report(members, m)
    }
    function report(members, m,    i, j, inGroup) {
        ++cycles
        printf "check_layers: cycle %d among %d object files:\n", cycles, m
        for (i = 1; i <= m; ++i) inGroup[members[i]] = 1
        for (i = 1; i <= m; ++i)
            for (j = 1; j <= m; ++j)
                if ((members[i] SUBSEP members[j]) in edge)
                    printf "  %s uses %s (%s)\n", members[i], members[j], edge[members[i] SUBSEP members[j]]
    }
'
