#!/usr/bin/env cwl-runner
# The tarnaxel command line as a CWL tool: a library (SDF or SMILES, plain,
# gzip, zstd or bzip2) screened against one pattern; the outputs are the
# files one run leaves and its statistics (standard output).
cwlVersion: v1.2
class: CommandLineTool
label: Screen a library of molecules against a Tarnaxel pattern
baseCommand: tarnaxel
requirements:
  EnvVarRequirement:
    envDef:
      TARNAXEL_THREADS: $(inputs.threads)
inputs:
  aromatic:
    type: boolean?
    label: perceive aromaticity in every record (--aromatic)
    inputBinding: {position: 1, prefix: --aromatic}
  match_data:
    type: boolean?
    label: accepted records as read, the match as SD data items (--match-data)
    inputBinding: {position: 1, prefix: --match-data}
  smiles:
    type: boolean?
    label: read the library as SMILES whatever its name (--smiles)
    inputBinding: {position: 1, prefix: --smiles}
  library:
    type: File
    inputBinding: {position: 2}
  span:
    type: boolean?
    inputBinding: {position: 3, prefix: -span}
  ind:
    type: boolean?
    inputBinding: {position: 4, prefix: -ind}
  min:
    type: boolean?
    inputBinding: {position: 5, prefix: -min}
  pattern:
    type: string
    inputBinding: {position: 6}
  threads:
    type: string
    default: "1"
    label: TARNAXEL_THREADS
outputs:
  accepted:
    type: File
    outputBinding: {glob: "accept.s[dm][fi]"}
  rejected:
    type: File
    outputBinding: {glob: "reject.s[dm][fi]"}
  too_wide:
    type: File
    outputBinding: {glob: "tw_big.s[dm][fi]"}
  automaton:
    type: File
    outputBinding: {glob: automaton.txt}
  statistics:
    type: stdout
stdout: stdout.txt
