"""Verification (closed forms) and validation (human burn data) of skinburn; ``vv/run.sh`` runs both."""
