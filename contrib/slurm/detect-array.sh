#!/usr/bin/env bash
# One plate a task of a Slurm job array: task N runs qova-detect on the Nth
# plate of a manifest and records its exit status.
#
#   sbatch --array=1-$(grep -cv '^[[:space:]]*\(#\|$\)' plates.manifest) \
#          contrib/slurm/detect-array.sh plates.manifest
#
# The manifest lists one plate a line: the image, its regions file (as
# qova-detect --regions reads it) and optionally the output file (default:
# the image's name with .crd). Fields are separated by a tab when the line
# has one (paths with blanks), else by blanks; '#' starts a comment line.
# Further arguments are passed to qova-detect (--settings FILE, --format=json,
# --precise, ...).
#
# Each task writes "<task> <exit status> <image>" to
# $QOVA_STATUS_DIR/<task>.status (default: status/ beside the manifest), so
#   cat status/*.status | sort -n | awk '$2 != 0'
# lists the plates that failed (1: points not found, 2: bad image or
# regions), as does `sacct -j JOBID --format=JobID,ExitCode`.
#SBATCH --job-name=qova-detect
#SBATCH --cpus-per-task=1
#SBATCH --output=qova-detect-%A_%a.log
set -uo pipefail

manifest=${1:?usage: detect-array.sh MANIFEST [qova-detect options...]}
shift
task=${SLURM_ARRAY_TASK_ID:?not a task of a job array (sbatch --array=1-N)}
detect=${QOVA_DETECT:-qova-detect}
status_dir=${QOVA_STATUS_DIR:-$(dirname "$manifest")/status}

line=$(grep -v '^[[:space:]]*\(#\|$\)' "$manifest" | sed -n "${task}p")
if [[ -z $line ]]; then
  echo "detect-array.sh: the manifest $manifest has no plate $task" >&2
  exit 2
fi
if [[ $line == *$'\t'* ]]; then
  IFS=$'\t' read -r image regions out <<<"$line"
else
  read -r image regions out <<<"$line"
fi
out=${out:-${image%.*}.crd}

"$detect" "$image" --regions="$regions" -o "$out" "$@"
status=$?
mkdir -p "$status_dir"
printf '%s %s %s\n' "$task" "$status" "$image" >"$status_dir/$task.status"
exit "$status"
