#!/usr/bin/env python3
"""Reads `perf report --sort symbol --stdio --percentage relative` (no call graphs) on standard
input and prints the samples' shares by stage of a conversion, and in milliseconds when the
program's processor time a conversion is given:

    profile_stages.py LABEL [MILLISECONDS]
"""
import re
import sys

# Each stage and the functions whose samples are its own, first match wins. Kernel functions
# are told apart by what they do for the program.
STAGES = [
    ("LZ decoding", r"decodeLz"),
    ("composing regions", r"composeRegions|placeRegion|copyPart|drawPart"),
    # writePngBand: the filters are inlined into it.
    ("PNG filtering", r"filterBand|filterRow|upRow|loadRow|nextRow|countBytes|BitsPerByte|"
                      r"writePngBand"),
    ("deflate", r"deflate|Huffman|matchLength|TokenBlock|planBlock|writeBlockHeader|codeLengths|"
                r"canonicalCodes|writeStored|adler32|crc32"),
    ("PSD: flattening and PackBits", r"packRow|packBlock|packBits|flattenRow|EveryFourth|"
                                     r"writeHeaderAndLayer|finishMerged|writeRawMerged"),
    ("BMP rows", r"writeBmp"),
    ("copies (memcpy, memmove)", r"memmove|memcpy|memset"),
    ("kernel: clearing fresh pages", r"clear_page|folio_zero|clear_huge|zero_user"),
    ("kernel: writing the output into the page cache",
     r"copy_folio_from_iter|ext4_da_write|ext4_block_write|create_empty_buffers|"
     r"alloc_buffer_head|mark_buffer_dirty|block_commit_write|generic_perform_write|"
     r"ext4_buffered_write|filemap_add|folio_alloc|__filemap_get_folio"),
    ("kernel: freeing the replaced output and fresh blocks",
     r"truncate|evict|invalidate|free_buffer|try_to_free_buffers|zap_|free_unref|"
     r"free_pages|unmap_page|release_pages|__folio_put|free_pcppages|tlb_"),
    ("kernel: reading the source", r"copy_to_iter|filemap_read|filemap_get"),
    ("kernel: page faults and exits", r"pvm_|irq_enable|handle_mm_fault|do_huge_pmd|"
                                      r"exc_page_fault|native_set|set_pmd|set_pte"),
]


def main():
    label = sys.argv[1]
    total_ms = float(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else 0.0
    shares = {name: 0.0 for name, _ in STAGES}
    other = {"program, other": 0.0, "kernel, other": 0.0}
    largest = {"program, other": [], "kernel, other": []}  # (share, symbol) of each
    line_re = re.compile(r"^\s+([0-9.]+)%\s+\[([.k])\]\s+(.*?)\s*$")
    for line in sys.stdin:
        m = line_re.match(line)
        if not m:
            continue
        share, space = float(m.group(1)), m.group(2)
        symbol = re.sub(r"\s+-\s+-\s*$", "", m.group(3))
        for name, pattern in STAGES:
            if re.search(pattern, symbol):
                shares[name] += share
                break
        else:
            kind = "kernel, other" if space == "k" else "program, other"
            other[kind] += share
            largest[kind].append((share, symbol.replace("(anonymous namespace)::", "").split("(")[0]))
    print(f"\n{label}" + (f": {total_ms:.1f} ms of processor time" if total_ms else ""))
    for name, share in list(shares.items()) + list(other.items()):
        if share < 0.5:
            continue
        ms = f"{share * total_ms / 100:6.1f} ms" if total_ms else ""
        names = ""
        if name in largest:
            names = " (" + ", ".join(f"{n} {v:.1f}%" for v, n in sorted(largest[name])[::-1][:3]) + ")"
        print(f"  {name:<52} {share:5.1f}%  {ms}{names}")


if __name__ == "__main__":
    main()
