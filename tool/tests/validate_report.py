#!/usr/bin/env python3
"""Validates firmstep report files against the report's JSON Schema.

Usage: validate_report.py SCHEMA REPORT...
Exit status 0 when every report is valid, 1 when one is not (each problem is
printed), 2 when the files cannot be read or the validator is missing.
"""
import json
import sys


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        import jsonschema
    except ImportError:
        print("validate_report.py: the Python module jsonschema is missing "
              "(Debian: python3-jsonschema; scripts/setup.sh installs it)", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as schema_file:
            schema = json.load(schema_file)
        validator_class = jsonschema.validators.validator_for(schema)
        validator_class.check_schema(schema)
        validator = validator_class(schema)
    except (OSError, ValueError, jsonschema.exceptions.SchemaError) as problem:
        print(f"validate_report.py: {argv[1]}: {problem}", file=sys.stderr)
        return 2
    status = 0
    for path in argv[2:]:
        try:
            with open(path, encoding="utf-8") as report_file:
                report = json.load(report_file)
        except (OSError, ValueError) as problem:
            print(f"{path}: {problem}", file=sys.stderr)
            return 2
        for error in sorted(validator.iter_errors(report), key=lambda e: list(e.absolute_path)):
            location = "/".join(str(part) for part in error.absolute_path) or "(document)"
            print(f"{path}: {location}: {error.message}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
