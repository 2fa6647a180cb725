# Reads the preprocessed platform headers (g++ -E -dD) and writes the names they define for
# Windows: GUID constants to `guids` as TW_ABI_GUID(name) lines, object-like macros with a
# plain integer value to `constants` as TW_ABI_CONSTANT(name), each inside #ifdef name.
# Only what comes from files under `root` counts; the system headers' own names do not.
/^# [0-9]+ "/ {
    file = $3
    gsub(/"/, "", file)
    ours = (index(file, root) == 1)
    next
}
!ours { next }
/^#define / {
    name = $2
    if (name ~ /\(/ || name ~ /^TW_/ || name ~ /^_/) next
    value = substr($0, index($0, name) + length(name))
    sub(/^[ \t]+/, "", value)
    sub(/[ \t]+$/, "", value)
    if (value !~ /[0-9]/) next
    plain = (value ~ /^[-+()~|<> \t0-9A-Fa-fxXuUlL]+$/)
    cast = (value ~ /^\(\((HRESULT|DWORD|LONG|ULONG|UINT)\) *[-+ \t0-9A-Fa-fxXuUlL]+\)$/)
    if ((plain || cast) && !(name in seen_constant)) {
        seen_constant[name] = 1
        constant_order[++nconstants] = name
    }
    next
}
{
    line = $0
    while (match(line, /constexpr[ \t]+(const[ \t]+)?(GUID|IID|CLSID)[ \t]+[A-Za-z_][A-Za-z_0-9]*[ \t]*=/)) {
        m = substr(line, RSTART, RLENGTH)
        line = substr(line, RSTART + RLENGTH)
        sub(/[ \t]*=$/, "", m)
        n = split(m, parts, /[ \t]+/)
        name = parts[n]
        if (!(name in seen_guid)) {
            seen_guid[name] = 1
            guid_order[++nguids] = name
        }
    }
}
END {
    printf "" > guids
    for (i = 1; i <= nguids; ++i) printf "TW_ABI_GUID(%s)\n", guid_order[i] > guids
    printf "" > constants
    for (i = 1; i <= nconstants; ++i)
        printf "#ifdef %s\nTW_ABI_CONSTANT(%s)\n#endif\n", constant_order[i], constant_order[i] > constants
}
