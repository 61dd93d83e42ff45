"""Sums a perf profile by layer, from the symbol names.

    python3 layers.py perf.data
"""
import re, subprocess, sys, collections
rules = [
 ("GC (collector)", r"gc_collect|dict_traverse|visit_decref|visit_reachable|subtract_refs|move_unreachable|update_refs|list_traverse|deduce_unreachable|gc_"),
 ("result teardown by caller (dealloc)", r"dict_dealloc|_PyFloat_ExactDealloc|list_dealloc|_Py_Dealloc|unicode_dealloc|free_keys_object|dictkeys_decref"),
 ("CPython obj alloc (pymalloc)", r"_PyObject_Malloc|_PyObject_Free|PyObject_Malloc|PyObject_Free|_PyObject_GC_New|gc_alloc|_PyObject_GC_Link|PyObject_GC_Del"),
 ("result building: dict/float/str", r"insertdict|insert_to_emptydict|PyFloat_FromDouble|PyDict_New|_PyDict_SetItem|PyDict_SetItem|unicodekeys_lookup|_Py_dict_lookup|find_empty_slot|build_indices|dictresize|new_keys_object|PyUnicode_FromStringAndSize|PyUnicode_New|unicode_decode_utf8|new_dict|PyList_New|convert_results|record_dict|feature_dict|insertion_resize"),
 ("argument/dict walk + name", r"convert_record|convert_data|PyDict_Next|PyUnicode_AsUTF8|DictWalk|column_name|PyDict_Size|_PyDict_Next|PySequence|PyList_GetItem|PyErr_Occurred|bind_data"),
 ("NumPy admission", r"AdmittedArray|acceptance|numpy::|PyArray|array_|npy_"),
 ("borrow registry", r"borrow::|Hashtable|_Rb_tree|std::map|BorrowKey|RegistryState|registry"),
 ("record list building", r"build_record_list"),
 ("pool / parallel_map", r"pool::|parallel_map|Worker|steal|futex|__tls_get_addr|sched_yield|pthread"),
 ("statistics (core kernels)", r"features::|select_middle|second_pass|first_pass|median|moments|StableMedian"),
 ("malloc/free (glibc)", r"malloc|_int_free|cfree|free|unlink_chunk|malloc_consolidate|_int_malloc|tcache|memalign"),
 ("kernel: page faults & unmap", r"page|fault|clear_page|unmap|mm_|mas_|memcg|lru|folio|zap|tlb|__list_del|release_pages|alloc_frozen|charge|pte|vma|mmap|munmap|brk"),
 ("memcpy/memmove", r"memmove|memcpy|memset"),
 ("entry point / misc orven", r"entry_point|orven::"),
]
out = subprocess.run(["perf","report","-i",sys.argv[1],"--no-children","--sort","dso,sym","-g","none","--stdio","--percent-limit","0"],capture_output=True,text=True).stdout
tot = collections.Counter(); other = collections.Counter()
for line in out.splitlines():
    m = re.match(r"\s+([\d.]+)%\s+(\S+)\s+\[(.)\]\s+(.*)", line)
    if not m: continue
    pct, dso, kind, sym = float(m.group(1)), m.group(2), m.group(3), m.group(4)
    for name, rx in rules:
        if (kind == 'k') != name.startswith("kernel"):
            if name.startswith("kernel"): continue
            if kind == 'k': continue
        if re.search(rx, sym):
            tot[name] += pct; break
    else:
        key = "kernel: other" if kind=='k' else ("python interpreter other" if "libpython" in dso else f"other ({dso[:20]})")
        tot[key] += pct; other[(dso[:25], sym[:50])] += pct
for k, v in tot.most_common(): print(f"{v:6.1f}%  {k}")
print("top unclassified:", [(k, round(v,2)) for k, v in other.most_common(8)])
