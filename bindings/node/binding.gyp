{
  "targets": [
    {
      "target_name": "vantoro",
      "sources": ["src/vantoro_node.c"],
      "include_dirs": ["<!@(node scripts/link.js include)"],
      "cflags": ["-Wall", "-Wextra", "<!@(node scripts/link.js cflags)"],
      "ldflags": ["<!@(node scripts/link.js ldflags)"],
      "libraries": ["<!@(node scripts/link.js libraries)"]
    }
  ]
}
